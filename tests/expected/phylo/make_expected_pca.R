# Writes pca_expected.csv beside this script: geomorph's gm.prcomp with a
# tree (read from CASE_tree.csv) (the phylomorphospace) on the cases make_expected.R wrote, as plain
# PCA with the ancestors projected, as the phylogenetic PCA (GLS = TRUE) and
# as the phylogenetically aligned components (align.to.phy = TRUE).
#
#   Rscript tests/expected/phylo/make_expected_pca.R
#
# Keys: MODE unit (the factor geomorph divided C by; 1 when it left C as it
# is), MODE d J (the variance of component J), MODE RV J (paca), MODE x ROW J
# (the score of data row ROW, 1-based, in the data file's order), MODE anc
# NODE J (the score of node NODE, ape's number), anc NODE COL (the
# ancestral state of NODE in column COL of the data).  Signs of components
# are geomorph's: compare them up to sign.
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(ape)
  library(geomorph)
})
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)

for (case in c("plethspecies", "coalescent", "polytomy")) {
  # The tree as CASE_tree.csv numbers its nodes (read.tree may number a
  # simulated tree's inner nodes otherwise).
  t <- read.csv(file.path(here, paste0(case, "_tree.csv")), colClasses = c(label = "character"))
  tips <- sum(t$label != "")
  inner <- t$parent != 0
  phy <- structure(list(edge = cbind(t$parent[inner], t$node[inner]), edge.length = t$length[inner],
                        tip.label = t$label[seq_len(tips)], Nnode = nrow(t) - tips), class = "phylo")
  d <- read.csv(file.path(here, paste0(case, "_data.csv")), check.names = FALSE)
  first <- max(which(names(d) %in% c("name", "cov", "g", "logcs"))) + 1
  x <- as.matrix(d[, first:ncol(d)])
  rownames(x) <- d$name
  C <- vcv.phylo(phy)
  unit <- if (length(unique(diag(C))) == 1) C[1, 1] else 1
  comps <- if (case == "plethspecies") 4 else 2
  for (mode in c("pca", "gls", "paca")) {
    pc <- gm.prcomp(x, phy = phy, GLS = mode == "gls", align.to.phy = mode == "paca")
    put(case, paste(mode, "unit"), unit)
    for (j in seq_len(min(4, length(pc$d)))) put(case, paste(mode, "d", j), pc$d[j])
    if (mode == "paca") for (j in seq_len(min(4, length(pc$RV)))) put(case, paste(mode, "RV", j), pc$RV[j])
    for (j in seq_len(comps)) {
      for (i in seq_len(nrow(x))) put(case, paste(mode, "x", i, j), pc$x[rownames(x)[i], j])
      for (v in rownames(pc$anc.x)) put(case, paste(mode, "anc", v, j), pc$anc.x[v, j])
    }
    if (mode == "pca" && case != "coalescent") {
      a <- as.matrix(pc$ancestors)
      for (v in rownames(a)) for (j in seq_len(ncol(a))) put(case, paste("anc", v, j), a[v, j])
    }
  }
}
out <- do.call(rbind, rows)
out$value <- sprintf("%.17g", out$value)
write.csv(out, file.path(here, "pca_expected.csv"), row.names = FALSE, quote = FALSE)
