# A simulated comparative data set of 1,000 species: a random tree (ape's
# rtree, so not ultrametric) with one polytomy and a few tip labels that only
# quotes can carry, and the shapes of 10 landmarks evolved on it by Brownian
# motion from a mean shape.  Written as phylo1000.tps (ID= the tip labels)
# and phylo1000.tre (Newick, the labels that need it in single quotes).
#
#   Rscript data/phylo1000/make.R
#
# ape's read.tree does not read doubled quotes inside a quoted label (it
# gives NA) and drops blanks from labels: to compute with this tree in R, use
# the object this script builds (source it), not the file read back.
library(ape)
set.seed(20261209)
out <- "data/phylo1000"
n <- 1000
k <- 10

tree <- rtree(n)
tree$tip.label <- sprintf("sp_%04d", seq_len(n))
# One polytomy: an inner branch of length 0, collapsed.
inner <- which(tree$edge[, 2] > n)
tree$edge.length[inner[10]] <- 0
tree <- di2multi(tree, tol = 1e-12)
tree <- collapse.singles(tree)
stopifnot(any(tabulate(tree$edge[, 1]) > 2))
# Labels with blanks, brackets, colons and apostrophes.
tree$tip.label[1] <- "O'Brien's salamander"
tree$tip.label[2] <- "sp 0002 (north: upper)"
tree$tip.label[3] <- "sp_0003 [cf.]"

# Mean shape: 10 points on an ellipse; each coordinate evolves independently.
angle <- 2 * pi * (seq_len(k) - 1) / k
mean_shape <- as.vector(rbind(cos(angle), 0.6 * sin(angle)))
X <- sapply(seq_len(2 * k), function(j) rTraitCont(tree, model = "BM", sigma = 0.01))
X <- sweep(X, 2, mean_shape, "+")
rownames(X) <- tree$tip.label

num <- function(x) sprintf("%.10g", x)
lines <- character(0)
for (i in seq_len(n)) {
  lines <- c(lines, sprintf("LM=%d", k))
  xy <- matrix(X[i, ], ncol = 2, byrow = TRUE)
  lines <- c(lines, paste(num(xy[, 1]), num(xy[, 2])))
  lines <- c(lines, paste0("ID=", tree$tip.label[i]))
}
writeLines(lines, file.path(out, "phylo1000.tps"))

# write.tree would mangle the special labels: write placeholders, then put
# the labels back in quotes (a quote inside doubled).
special <- c(1, 2, 3)
written <- tree
written$tip.label[special] <- sprintf("QUOTEDLABEL%d", special)
text <- write.tree(written, digits = 15)
for (i in special) {
  quoted <- paste0("'", gsub("'", "''", tree$tip.label[i], fixed = TRUE), "'")
  text <- sub(sprintf("QUOTEDLABEL%d:", i), paste0(quoted, ":"), text, fixed = TRUE)
}
writeLines(text, file.path(out, "phylo1000.tre"))
