# Writes the expected numbers of the allometry test (geomorph_allometry.csv
# beside this script) with geomorph's plotAllometry (methods CAC, RegScore
# and PredLine) on the bundled plethodon set, for the model
# coords ~ log(size) * species, size the centroid size of plethodon.lm.txt's
# last column; and CAC_groups, the within-group CAC, in base R.  The shapes are the aligned coordinates quillan-batch's
# --export-specimens writes, projected onto the tangent space at their mean,
# as the model tests take them (the test runs quillan with --gpa-steps
# gpagen, whose superimposition stops where the export's does).
#
#   Rscript tests/expected/allometry/make_expected.R BUILD/quillan-batch [DATA_DIR]
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(RRPP)
  library(geomorph)
})
args <- commandArgs(trailingOnly = TRUE)
batch <- args[1]
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
data <- if (length(args) >= 2) args[2] else file.path(here, "..", "..", "..", "data")

project <- function(a) {
  m <- colMeans(a)
  m[c(TRUE, FALSE)] <- m[c(TRUE, FALSE)] - mean(m[c(TRUE, FALSE)])
  m[c(FALSE, TRUE)] <- m[c(FALSE, TRUE)] - mean(m[c(FALSE, TRUE)])
  m <- m / sqrt(sum(m^2))
  a %*% (diag(length(m)) - tcrossprod(m)) + matrix(1, nrow(a), 1) %*% t(m)
}
lm_file <- file.path(data, "plethodon.lm.txt")
out <- tempfile(fileext = ".csv")
if (system2(batch, c("export-specimens", "-l", lm_file, "--out", out)) != 0) stop("export-specimens failed")
s <- read.csv(out)
Y <- project(as.matrix(s[, grep("^[xy][0-9]+$", names(s))]))
raw <- as.matrix(read.table(lm_file))
size <- raw[, ncol(raw)]
species <- factor(read.table(file.path(data, "plethodon.species.groups.txt"))[, 1])
gdf <- geomorph.data.frame(Y = Y, size = size, species = species)
fit <- procD.lm(Y ~ log(size) * species, data = gdf, iter = 0, print.progress = FALSE)
pdf(NULL)
cac <- plotAllometry(fit, size, logsz = TRUE, method = "CAC")
reg <- plotAllometry(fit, size, logsz = TRUE, method = "RegScore")
pl <- plotAllometry(fit, size, logsz = TRUE, method = "PredLine")
# The CAC from the pooled within-group regression (geomorph has none): the
# shapes and the log sizes each centred on their species' means.
within <- function(m) m - apply(as.matrix(m), 2, function(v) ave(v, species))
a <- crossprod(within(Y), within(log(size)))
a <- a / sqrt(sum(a^2))
cac_groups <- scale(Y, scale = FALSE) %*% a
write.csv(data.frame(specimen = seq_along(size), size = log(size), CAC = as.vector(cac$CAC), RSC1 = cac$RSC[, 1],
                     RegScore = as.vector(reg$RegScore), PredLine = as.vector(pl$PredLine),
                     CAC_groups = as.vector(cac_groups)),
          file.path(here, "geomorph_allometry.csv"), row.names = FALSE, quote = FALSE)
