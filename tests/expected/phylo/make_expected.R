# Writes the expected numbers of the analyses on a tree beside this script:
# geomorph's physignal and procD.pgls (RRPP's lm.rrpp with Cov) on
# geomorph's plethspecies (aligned by gpagen) and on simulated data (ape's
# rcoal and rtree, Brownian motion; a polytomy; a tree that is not
# ultrametric), with the trees and the data they were given.
#
#   Rscript tests/expected/phylo/make_expected.R
#
# Files: expected.csv (case,key,value); CASE_tree.csv (one row a node, ape's
# numbers: node,parent,length,label; parent 0 for the root); CASE_data.csv
# (one row a specimen, in an order other than the tips', name first).
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(ape)
  library(RRPP)
  library(geomorph)
})
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
iter <- 9999
set.seed(52)
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)

write_tree <- function(case, phy) {
  n <- length(phy$tip.label)
  nodes <- n + phy$Nnode
  parent <- integer(nodes)
  len <- numeric(nodes)
  parent[phy$edge[, 2]] <- phy$edge[, 1]
  len[phy$edge[, 2]] <- phy$edge.length
  lab <- c(phy$tip.label, rep("", phy$Nnode))
  write.csv(data.frame(node = seq_len(nodes), parent = parent, length = sprintf("%.17g", len), label = lab),
            file.path(here, paste0(case, "_tree.csv")), row.names = FALSE, quote = FALSE)
  write.tree(phy, file.path(here, paste0(case, ".tre")))
}
write_data <- function(case, df) {
  out <- df
  for (j in seq_along(out)) if (is.numeric(out[[j]])) out[[j]] <- sprintf("%.17g", out[[j]])
  write.csv(out, file.path(here, paste0(case, "_data.csv")), row.names = FALSE, quote = FALSE)
}

signal <- function(case, x, phy) {
  ps <- physignal(x, phy, iter = iter, print.progress = FALSE)
  put(case, "K", ps$phy.signal)
  put(case, "p", ps$pvalue)
  put(case, "Z", geomorph:::effect.size(ps$random.K))
  if (!is.null(ps$K.by.p)) for (j in seq_len(min(4, length(ps$K.by.p)))) put(case, paste0("K_by_p", j), ps$K.by.p[j])
}

pgls_table <- function(case, f, phy, data, type = "I") {
  fit <- procD.pgls(f, phy = phy, data = data, iter = iter, SS.type = type, print.progress = FALSE)
  tab <- fit$aov.table
  for (r in rownames(tab)) {
    key <- paste0(type, " ", r)
    for (col in c("Df", "SS", "Rsq", "F", "Z", "Pr(>F)")) {
      v <- tab[r, col]
      if (!is.na(v)) put(case, paste(key, sub("Pr\\(>F\\)", "p", col)), v)
    }
  }
}

# Brownian motion of p traits on phy: rows in tip order.
brownian <- function(phy, p) {
  C <- vcv.phylo(phy)
  x <- t(chol(C)) %*% matrix(rnorm(nrow(C) * p), nrow(C), p)
  rownames(x) <- rownames(C)
  x[phy$tip.label, ]
}

# plethspecies: nine species, eleven landmarks, aligned by gpagen.
data(plethspecies)
gpa <- gpagen(plethspecies$land, print.progress = FALSE)
x <- two.d.array(gpa$coords)
phy <- plethspecies$phy
write_tree("plethspecies", phy)
write_data("plethspecies", data.frame(name = rownames(x), logcs = log(gpa$Csize), x, check.names = FALSE))
signal("plethspecies", x, phy)
gdf <- geomorph.data.frame(coords = gpa$coords, logcs = log(gpa$Csize), phy = phy)
pgls_table("plethspecies", coords ~ logcs, phy, gdf)

# Simulated: 60 tips of a coalescent tree, 12 traits with a covariate and a
# factor of three levels, the rows shuffled away from the tips' order.
sim_case <- function(case, phy, p = 12) {
  x <- brownian(phy, p)
  n <- nrow(x)
  cov <- as.numeric(brownian(phy, 1))
  g <- factor(sample(c("a", "b", "c"), n, replace = TRUE))
  x <- x + cov %o% rnorm(p, sd = 0.3)
  order <- sample(n)
  x <- x[order, ]
  cov <- cov[order]
  g <- g[order]
  names(cov) <- names(g) <- rownames(x)
  write_tree(case, phy)
  write_data(case, data.frame(name = rownames(x), cov = cov, g = as.character(g), x, check.names = FALSE))
  signal(case, x, phy)
  d <- rrpp.data.frame(y = x, cov = cov, g = g)
  for (type in c("I", "III")) pgls_table(case, y ~ cov * g, phy, d, type)
}
sim_case("coalescent", rcoal(60))
# Not ultrametric, with a polytomy: two inner edges of rtree's tree set to
# zero and collapsed.
phy <- rtree(45)
inner <- which(phy$edge[, 2] > length(phy$tip.label))
phy$edge.length[inner[c(3, 7)]] <- 0
phy <- di2multi(phy)
stopifnot(!is.binary(phy))
sim_case("polytomy", phy)

out <- do.call(rbind, rows)
out$value <- sprintf("%.17g", out$value)
write.csv(out, file.path(here, "expected.csv"), row.names = FALSE, quote = FALSE)
