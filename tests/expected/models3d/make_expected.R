# Writes the expected numbers of the linear-model tests on landmarks in space
# (rrpp_tables_3d.csv beside this script) with geomorph (gpagen + procD.lm)
# and RRPP (lm.rrpp + anova), on the bundled 3-D sets written from R's shapes
# package (data/macaques.*, data/brains.*).
#
#   Rscript tests/expected/models3d/make_expected.R BUILD/quillan-batch [DATA_DIR]
#
# The "full" cases take the aligned coordinates that quillan-batch's
# --export-specimens writes with --dimensions 3 (the program's own full
# Procrustes fits) and project them onto the tangent space at their mean,
# scaled to unit size, as geomorph projects; the "partial" cases run geomorph
# end to end from the raw coordinates.  Needs R with RRPP and geomorph.
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(RRPP)
  library(geomorph)
})
args <- commandArgs(trailingOnly = TRUE)
batch <- args[1]
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
data <- if (length(args) >= 2) args[2] else file.path(here, "..", "..", "..", "data")
iter <- 9999

read_table <- function(name) as.matrix(read.table(file.path(data, name)))

# Tangent projection at the unit-size mean of aligned rows (x1 y1 z1 ... zk).
project <- function(a) {
  m <- colMeans(a)
  for (axis in 1:3) {
    idx <- seq(axis, length(m), by = 3)
    m[idx] <- m[idx] - mean(m[idx])
  }
  m <- m / sqrt(sum(m^2))
  a %*% (diag(length(m)) - tcrossprod(m)) + matrix(1, nrow(a), 1) %*% t(m)
}

full_shapes <- function(lm_file) {
  out <- tempfile(fileext = ".csv")
  status <- system2(batch, c("export-specimens", "-l", file.path(data, lm_file), "--dimensions", "3", "--out", out))
  if (status != 0) stop("quillan-batch export-specimens failed")
  specimens <- read.csv(out)
  project(as.matrix(specimens[, grep("^[xyz][0-9]+$", names(specimens))]))
}

partial_shapes <- function(lm_file) {
  raw <- read_table(lm_file)
  k <- (ncol(raw) - 1) / 3
  arr <- arrayspecs(raw[, 1:(3 * k)], k, 3)
  two.d.array(gpagen(arr, print.progress = FALSE)$coords)
}

variables <- function(groups_file) {
  g <- read_table(groups_file)
  d <- list(G1 = factor(g[, 1]))
  if (ncol(g) > 1) d$G2 <- factor(g[, 2])
  d
}

table_rows <- function(name, tab) {
  tab <- as.data.frame(tab)
  data.frame(case = name, term = rownames(tab), Df = tab$Df, SS = tab$SS, MS = tab$MS, Rsq = tab$Rsq,
             F = tab$F, Z = tab$Z, P = tab[["Pr(>F)"]])
}

run_case <- function(name, lm_file, groups_file, formula, ss = "I", alignment = "full") {
  d <- variables(groups_file)
  d$coords <- if (alignment == "full") full_shapes(lm_file) else partial_shapes(lm_file)
  f <- as.formula(paste("coords ~", formula))
  fit <- if (alignment == "partial") {
    procD.lm(f, data = do.call(geomorph.data.frame, d), iter = iter, SS.type = ss, seed = 1, print.progress = FALSE)
  } else {
    lm.rrpp(f, data = do.call(rrpp.data.frame, d), iter = iter, SS.type = ss, seed = 1, print.progress = FALSE)
  }
  table_rows(name, anova(fit)$table)
}

cases <- list(
  run_case("macaques_sex", "macaques.lm.txt", "macaques.groups.txt", "G1"),
  run_case("brains_crossed_I", "brains.lm.txt", "brains.groups.txt", "G1 * G2"),
  run_case("brains_crossed_III", "brains.lm.txt", "brains.groups.txt", "G1 * G2", ss = "III"),
  run_case("macaques_partial_sex", "macaques.lm.txt", "macaques.groups.txt", "G1", alignment = "partial"),
  run_case("brains_partial_crossed_II", "brains.lm.txt", "brains.groups.txt", "G1 * G2", ss = "II",
           alignment = "partial")
)
out <- do.call(rbind, cases)
for (col in names(out)[-(1:2)]) out[[col]] <- ifelse(is.na(out[[col]]), "NA", sprintf("%.17g", out[[col]]))
write.csv(out, file.path(here, "rrpp_tables_3d.csv"), row.names = FALSE, quote = FALSE)
cat("wrote", file.path(here, "rrpp_tables_3d.csv"), "\n")
