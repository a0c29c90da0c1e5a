# Writes the share of the variance of each principal component of the bundled
# 3-D sets (data/macaques.lm.txt, data/brains.lm.txt, from R's shapes
# package) as geomorph's gm.prcomp gives it, into proportions.csv beside this
# script; the tests hold the components of quillan's pictures (the scree and
# the axes of the component plot) to them.
#
#   Rscript tests/expected/pca3d/make_expected.R BUILD/quillan-batch [DATA_DIR]
#
# gm.prcomp takes the aligned coordinates that quillan-batch's
# --export-specimens writes with --dimensions 3 (the program's own full
# Procrustes fits), projected onto the plane tangent to the shape space at
# their mean, as the pictures project them.  Needs R with geomorph.
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(geomorph)
})
args <- commandArgs(trailingOnly = TRUE)
batch <- args[1]
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
data <- if (length(args) >= 2) args[2] else file.path(here, "..", "..", "..", "data")

aligned <- function(lm_file) {
  out <- tempfile(fileext = ".csv")
  status <- system2(batch, c("export-specimens", "-l", file.path(data, lm_file), "--dimensions", "3", "--out", out))
  if (status != 0) stop("quillan-batch export-specimens failed")
  specimens <- read.csv(out)
  as.matrix(specimens[, grep("^[xyz][0-9]+$", names(specimens))])
}

# (I - u u') x for every row x, u the unit direction of the rows' mean.
tangent <- function(a) {
  u <- colMeans(a)
  u <- u / sqrt(sum(u^2))
  a - (a %*% u) %*% t(u)
}

rows <- NULL
for (set in c("macaques", "brains")) {
  t <- tangent(aligned(paste0(set, ".lm.txt")))
  pca <- gm.prcomp(arrayspecs(t, ncol(t) / 3, 3))
  share <- pca$d / sum(pca$d)
  keep <- share > 1e-10
  rows <- rbind(rows, data.frame(set = set, component = which(keep), proportion = sprintf("%.17g", share[keep])))
}
write.csv(rows, file.path(here, "proportions.csv"), row.names = FALSE, quote = FALSE)
cat("wrote", file.path(here, "proportions.csv"), "\n")
