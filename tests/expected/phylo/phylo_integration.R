# Writes the expected numbers of the phylogenetic integration and modularity
# tests beside this script: geomorph's phylo.integration (modules of a
# partition, two or three of them, and shape against a second block, log
# centroid size) and phylo.modularity on geomorph's plethspecies (aligned by
# gpagen), and phylo.integration of three modules on the simulated
# coalescent case of make_expected.R (its tree and data files, read back).
#
#   Rscript tests/expected/phylo/phylo_integration.R
#
# File: phylo_integration_expected.csv (case,key,value).  Singular vectors
# and scores are given for the first axis only; their sign is arbitrary.
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(ape)
  library(geomorph)
})
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
iter <- 9999
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)

# Two blocks: r-PLS, Z, p, each axis's singular value and r, the first
# axis's vectors and scores.
two_blocks <- function(case, fit) {
  put(case, "r_pls", fit$r.pls)
  put(case, "Z", fit$Z)
  put(case, "p", fit$P.value)
  d <- fit$svd$d
  for (j in seq_along(d)) {
    put(case, paste("d", j), d[j])
    put(case, paste("r", j), cor(fit$XScores[, j], fit$YScores[, j]))
  }
  for (i in seq_len(nrow(fit$left.pls.vectors))) put(case, paste("left", i), fit$left.pls.vectors[i, 1])
  for (i in seq_len(nrow(fit$right.pls.vectors))) put(case, paste("right", i), fit$right.pls.vectors[i, 1])
  for (i in seq_len(nrow(fit$XScores))) put(case, paste("xscore", i), fit$XScores[i, 1])
}

# More modules: the mean r-PLS, its Z and p, and each pair's.
modules <- function(case, fit) {
  put(case, "r_pls", fit$r.pls)
  put(case, "Z", fit$Z)
  put(case, "p", fit$P.value)
  r <- as.vector(fit$r.pls.mat)
  for (k in seq_along(r)) {
    put(case, paste("pair r", k), r[k])
    put(case, paste("pair Z", k), fit$pairwise.Z[k])
    put(case, paste("pair p", k), fit$pairwise.P.values[k])
  }
}

modularity <- function(case, fit) {
  put(case, "CR", fit$CR)
  put(case, "Z", fit$Z)
  put(case, "p", fit$P.value)
  if (!is.null(fit$CR.mat)) {
    cr <- as.vector(fit$CR.mat)
    for (k in seq_along(cr)) put(case, paste("pair CR", k), cr[k])
  }
}

data(plethspecies)
gpa <- gpagen(plethspecies$land, print.progress = FALSE)
phy <- plethspecies$phy
two <- c("A", "A", "A", "A", "A", "B", "B", "B", "B", "B", "B")
three <- c("A", "A", "A", "A", "B", "B", "B", "B", "C", "C", "C")
two_blocks("pleth2", phylo.integration(gpa$coords, partition.gp = two, phy = phy, iter = iter, print.progress = FALSE))
modules("pleth3", phylo.integration(gpa$coords, partition.gp = three, phy = phy, iter = iter, print.progress = FALSE))
logcs <- matrix(log(gpa$Csize), dimnames = list(dimnames(gpa$coords)[[3]], "logcs"))
two_blocks("pleth_logcs", phylo.integration(gpa$coords, A2 = logcs, phy = phy, iter = iter, print.progress = FALSE))
modularity("pleth2_cr", phylo.modularity(gpa$coords, partition.gp = two, phy = phy, iter = iter, print.progress = FALSE))
modularity("pleth3_cr", phylo.modularity(gpa$coords, partition.gp = three, phy = phy, iter = iter, print.progress = FALSE))

# The coalescent case: 60 tips, rows away from the tips' order, its twelve
# columns as six landmarks in the plane, in three modules of two.
tab <- read.csv(file.path(here, "coalescent_tree.csv"), stringsAsFactors = FALSE)
tips <- sum(tab$label != "" & !is.na(tab$label))
edges <- tab[tab$parent != 0, ]
coal <- list(edge = cbind(edges$parent, edges$node), edge.length = edges$length,
             tip.label = tab$label[seq_len(tips)], Nnode = nrow(tab) - tips)
class(coal) <- "phylo"
coal <- reorder(coal)
d <- read.csv(file.path(here, "coalescent_data.csv"), stringsAsFactors = FALSE, check.names = FALSE)
x <- as.matrix(d[, as.character(1:12)])
rownames(x) <- d$name
a <- arrayspecs(x, 6, 2)
modules("coal3", phylo.integration(a, partition.gp = c(1, 1, 2, 2, 3, 3), phy = coal, iter = iter, print.progress = FALSE))

out <- do.call(rbind, rows)
out$value <- sprintf("%.17g", out$value)
write.csv(out, file.path(here, "phylo_integration_expected.csv"), row.names = FALSE, quote = FALSE)
