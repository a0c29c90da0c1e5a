# Writes the expected numbers of the size-corrected shapes beside this
# script: size_corrected.csv, the residuals of RRPP's procD.lm(Y ~ log(size))
# plus the mean shape, on the bundled plethodon set (size the centroid size
# of plethodon.lm.txt's last column), and size_corrected_model.csv, the
# ANOVA table of procD.lm on those shapes against species.  Y are the
# aligned coordinates quillan-batch's --export-specimens writes, projected
# onto the tangent space at their mean, as the allometry script takes them
# (the test runs quillan with --gpa-steps gpagen, whose superimposition
# stops where the export's does).  With a size of the data's own, taken as
# it is, and one slope a species: size_corrected_species.csv, the residuals
# of lm(Y ~ logCS * species) plus the mean on the imported plethodon.csv,
# and size_corrected_species_model.csv, procD.lm of those shapes on site.
#
#   Rscript tests/expected/allometry/make_size_corrected.R BUILD/quillan-batch [DATA_DIR]
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
coordinates <- grep("^[xy][0-9]+$", names(s), value = TRUE)
Y <- project(as.matrix(s[, coordinates]))
raw <- as.matrix(read.table(lm_file))
size <- raw[, ncol(raw)]
species <- factor(read.table(file.path(data, "plethodon.species.groups.txt"))[, 1])
fit <- procD.lm(Y ~ log(size), data = rrpp.data.frame(Y = Y, size = size), iter = 0, print.progress = FALSE)
corrected <- fit$LM$residuals + matrix(1, nrow(Y), 1) %*% colMeans(Y)
colnames(corrected) <- paste0("sc_", coordinates)
write.csv(data.frame(specimen = seq_len(nrow(Y)), corrected, check.names = FALSE),
          file.path(here, "size_corrected.csv"), row.names = FALSE, quote = FALSE)
model <- procD.lm(corrected ~ species, data = rrpp.data.frame(corrected = corrected, species = species), iter = 0,
                  print.progress = FALSE)
a <- model$aov.table
write.csv(data.frame(term = c("G1", "Residuals"), df = a$Df[1:2], ss = a$SS[1:2], rsq = a$Rsq[1:2], F = c(a$F[1], NA)),
          file.path(here, "size_corrected_model.csv"), row.names = FALSE, quote = FALSE)

table_file <- file.path(data, "plethodon.csv")
if (system2(batch, c("export-specimens", "--import", table_file, "--out", out)) != 0) stop("export-specimens failed")
Y <- project(as.matrix(read.csv(out)[, coordinates]))
d <- read.csv(table_file)
species <- factor(d$species)
site <- factor(d$site)
logCS <- d$logCS
fit <- lm(Y ~ logCS * species)
corrected <- residuals(fit) + matrix(1, nrow(Y), 1) %*% colMeans(Y)
colnames(corrected) <- paste0("sc_", coordinates)
write.csv(data.frame(specimen = seq_len(nrow(Y)), corrected, check.names = FALSE),
          file.path(here, "size_corrected_species.csv"), row.names = FALSE, quote = FALSE)
model <- procD.lm(corrected ~ site, data = rrpp.data.frame(corrected = corrected, site = site), iter = 0,
                  print.progress = FALSE)
a <- model$aov.table
write.csv(data.frame(term = c("site", "Residuals"), df = a$Df[1:2], ss = a$SS[1:2], rsq = a$Rsq[1:2], F = c(a$F[1], NA)),
          file.path(here, "size_corrected_species_model.csv"), row.names = FALSE, quote = FALSE)
