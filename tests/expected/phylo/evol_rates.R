# Writes evol_expected.csv beside this script: geomorph's compare.evol.rates
# (the rates of groups of tips, by permutation and by simulation) and
# compare.multi.evol.rates (the rates of modules of landmarks, by
# simulation) on the cases make_expected.R wrote (the tree from
# CASE_tree.csv, the data from CASE_data.csv): plethspecies with its
# endangered species as a group, and the two simulated trees with their
# factor g of three levels.
#
#   Rscript tests/expected/phylo/evol_rates.R
#
# Keys of a case: group NAME (the level of tip NAME, 1-based, levels
# sorted), module LANDMARK (likewise), then the groups' (or modules')
# numbers: all (the rate of every tip), rate L, ratio, pair ratio A.B, and
# per METHOD (perm, sim): METHOD p, METHOD Z, METHOD pair p A.B (pairs as
# combn orders them; with two groups the one pair's p is p).  The rate
# matrix a simulation draws from, after makePD: sim R I.J.
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(ape)
  library(geomorph)
})
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
iter <- 9999
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)

read_case <- function(case) {
  t <- read.csv(file.path(here, paste0(case, "_tree.csv")), colClasses = c(label = "character"))
  tips <- sum(t$label != "")
  inner <- t$parent != 0
  phy <- structure(list(edge = cbind(t$parent[inner], t$node[inner]), edge.length = t$length[inner],
                        tip.label = t$label[seq_len(tips)], Nnode = nrow(t) - tips), class = "phylo")
  d <- read.csv(file.path(here, paste0(case, "_data.csv")), check.names = FALSE)
  first <- max(which(names(d) %in% c("name", "cov", "g", "logcs"))) + 1
  x <- as.matrix(d[, first:ncol(d)])
  rownames(x) <- d$name
  g <- if ("g" %in% names(d)) setNames(d$g, d$name) else NULL
  list(phy = phy, x = x, g = g)
}

put_pairs <- function(case, prefix, values, levels) {
  pairs <- combn(levels, 2)
  for (k in seq_len(ncol(pairs))) put(case, paste0(prefix, " ", pairs[1, k], ".", pairs[2, k]), values[k])
}

groups <- function(case, x, phy, gp) {
  gp <- factor(gp)
  for (name in names(gp)) put(case, paste("group", name), as.integer(gp[name]))
  levels <- seq_len(nlevels(gp))
  for (method in c("permutation", "simulation")) {
    er <- compare.evol.rates(A = x, phy = phy, gp = gp, iter = iter, method = method, print.progress = FALSE)
    m <- if (method == "permutation") "perm" else "sim"
    if (m == "perm") {
      put(case, "all", er$sigma.d.all)
      for (l in levels) put(case, paste("rate", l), er$sigma.d.gp[l])
      put(case, "ratio", er$sigma.d.ratio)
      put_pairs(case, "pair ratio", as.vector(er$sigma.d.gp.ratio), levels)
    }
    put(case, paste(m, "p"), er$P.value)
    put(case, paste(m, "Z"), er$Z)
    if (nlevels(gp) > 2) put_pairs(case, paste(m, "pair p"), as.vector(er$pairwise.pvalue), levels)
  }
  # The rate matrix of the simulation, as compare.evol.rates makes it.
  parts <- geomorph:::phylo.mat(x[phy$tip.label, ], phy)
  s <- geomorph:::sigma.d(scale(x[phy$tip.label, ], scale = FALSE), parts$invC, parts$D.mat, gp[phy$tip.label])
  r <- s$R
  diag(r) <- s$sigma.d.all
  r <- geomorph:::makePD(r)
  for (i in seq_len(nrow(r))) for (j in seq_len(ncol(r))) put(case, paste0("sim R ", i, ".", j), r[i, j])
}

# `landmarks`: one label per landmark; the data are 2-D, two columns each.
modules <- function(case, x, phy, landmarks) {
  gp <- factor(rep(landmarks, each = 2))
  lev <- factor(landmarks, levels = levels(gp))
  for (j in seq_along(landmarks)) put(case, paste("module", j), as.integer(lev[j]))
  er <- compare.multi.evol.rates(A = x, gp = gp, phy = phy, iter = iter, print.progress = FALSE)
  levels <- seq_len(nlevels(gp))
  for (l in levels) put(case, paste("rate", l), er$sigma.d.gp[l])
  put(case, "ratio", er$sigma.d.ratio)
  put_pairs(case, "pair ratio", as.vector(er$sigma.d.gp.ratio), levels)
  put(case, "sim p", er$P.value)
  put(case, "sim Z", er$Z)
  if (nlevels(gp) > 2) put_pairs(case, "sim pair p", as.vector(er$pairwise.pvalue), levels)
}

# plethspecies: the endangered species against the others, as geomorph's
# example; the landmarks as its example's mandible and cranium, and in
# three modules whose labels do not come in sorted order.
p <- read_case("plethspecies")
end <- setNames(c(0, 0, 1, 0, 0, 1, 1, 0, 0), p$phy$tip.label)
groups("plethspecies", p$x, p$phy, end)
modules("plethspecies_modules", p$x, p$phy, c("A", "A", "A", "A", "A", "B", "B", "B", "B", "B", "B"))
modules("plethspecies_modules3", p$x, p$phy, c(2, 2, 2, 1, 1, 1, 1, 3, 3, 3, 3))
# The simulated cases: 60 tips of a coalescent tree, and 45 of a tree that
# is not ultrametric, with a polytomy; 12 traits, as six 2-D landmarks.
for (case in c("coalescent", "polytomy")) {
  s <- read_case(case)
  groups(case, s$x, s$phy, s$g)
}
s <- read_case("coalescent")
modules("coalescent_modules", s$x, s$phy, c(1, 1, 1, 1, 2, 2))
s <- read_case("polytomy")
modules("polytomy_modules", s$x, s$phy, c(2, 2, 1, 1, 3, 3))

out <- do.call(rbind, rows)
out$value <- sprintf("%.17g", out$value)
write.csv(out, file.path(here, "evol_expected.csv"), row.names = FALSE, quote = FALSE)
