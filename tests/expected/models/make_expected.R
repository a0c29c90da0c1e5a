# Writes the expected numbers of the linear-model tests (rrpp_tables.csv,
# rrpp_pairwise.csv, rrpp_pairwise_plain.csv and rrpp_regscore.csv beside this
# script) with the peer packages RRPP (lm.rrpp + anova) and
# geomorph (gpagen + procD.lm), on the bundled example data.
#
#   Rscript tests/expected/models/make_expected.R BUILD/quillan-batch [DATA_DIR]
#
# The "full" cases take the aligned coordinates that quillan-batch's
# --export-specimens writes (the program's own full Procrustes fits) and
# project them onto the tangent space at their mean, scaled to unit size, as
# geomorph projects; the "partial" cases run geomorph end to end from the raw
# coordinates.  Needs R with RRPP and geomorph; nothing else of the build
# needs R.
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

# Tangent projection at the unit-size mean of aligned rows (x1 y1 ... xk yk).
project <- function(a) {
  m <- colMeans(a)
  k <- length(m) / 2
  m[c(TRUE, FALSE)] <- m[c(TRUE, FALSE)] - mean(m[c(TRUE, FALSE)])
  m[c(FALSE, TRUE)] <- m[c(FALSE, TRUE)] - mean(m[c(FALSE, TRUE)])
  m <- m / sqrt(sum(m^2))
  a %*% (diag(length(m)) - tcrossprod(m)) + matrix(1, nrow(a), 1) %*% t(m)
}

full_shapes <- function(lm_file) {
  out <- tempfile(fileext = ".csv")
  status <- system2(batch, c("export-specimens", "-l", file.path(data, lm_file), "--out", out))
  if (status != 0) stop("quillan-batch export-specimens failed")
  specimens <- read.csv(out)
  project(as.matrix(specimens[, grep("^[xy][0-9]+$", names(specimens))]))
}

partial_shapes <- function(lm_file) {
  raw <- read_table(lm_file)
  k <- (ncol(raw) - 1) / 2
  arr <- arrayspecs(raw[, 1:(2 * k)], k, 2)
  two.d.array(gpagen(arr, print.progress = FALSE)$coords)
}

variables <- function(groups_file, cov_file) {
  d <- list()
  if (!is.na(groups_file)) {
    g <- read_table(groups_file)
    d$G1 <- factor(g[, 1])
    if (ncol(g) > 1) d$G2 <- factor(g[, 2])
  }
  if (!is.na(cov_file)) d$cov <- read_table(cov_file)[, 1]
  d
}

table_rows <- function(name, tab) {
  tab <- as.data.frame(tab)
  data.frame(case = name, term = rownames(tab), Df = tab$Df, SS = tab$SS, MS = tab$MS, Rsq = tab$Rsq,
             F = tab$F, Z = tab$Z, P = tab[["Pr(>F)"]])
}

run_case <- function(name, lm_file, groups_file, cov_file, formula, ss = "I", alignment = "full", error = NULL) {
  shapes <- if (alignment == "full") full_shapes(lm_file) else partial_shapes(lm_file)
  d <- variables(groups_file, cov_file)
  d$coords <- shapes
  f <- as.formula(paste("coords ~", formula))
  if (alignment == "partial") {
    gdf <- do.call(geomorph.data.frame, d)
    fit <- procD.lm(f, data = gdf, iter = iter, SS.type = ss, seed = 1, print.progress = FALSE)
  } else {
    fit <- lm.rrpp(f, data = do.call(rrpp.data.frame, d), iter = iter, SS.type = ss, seed = 1, print.progress = FALSE)
  }
  tab <- if (is.null(error)) anova(fit)$table else anova(fit, error = error)$table
  table_rows(name, tab)
}

cases <- list(
  run_case("plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt", NA, "G1"),
  run_case("plethodon_crossed_I", "plethodon.lm.txt", "plethodon.groups.txt", NA, "G1 * G2"),
  run_case("plethodon_crossed_III", "plethodon.lm.txt", "plethodon.groups.txt", NA, "G1 * G2", ss = "III"),
  run_case("pupfish_crossed_I", "pupfish.lm.txt", "pupfish.groups.txt", NA, "G1 * G2"),
  run_case("pupfish_crossed_II", "pupfish.lm.txt", "pupfish.groups.txt", NA, "G1 * G2", ss = "II"),
  run_case("pupfish_crossed_III", "pupfish.lm.txt", "pupfish.groups.txt", NA, "G1 * G2", ss = "III"),
  run_case("plethodon_slopes_I", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1"),
  run_case("plethodon_slopes_II", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1",
           ss = "II"),
  run_case("plethodon_slopes_III", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1",
           ss = "III"),
  run_case("larval_nested", "larvalHead.lm.txt", "larvalMorph.groups.txt", NA, "G1 / G2",
           error = c("G1:G2", "Residuals")),
  run_case("plethodon_partial_crossed", "plethodon.lm.txt", "plethodon.groups.txt", NA, "G1 * G2", alignment = "partial"),
  run_case("pupfish_partial_size", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt", "cov + G1 * G2",
           ss = "II", alignment = "partial")
)
out <- do.call(rbind, cases)
for (col in names(out)[-(1:2)]) out[[col]] <- ifelse(is.na(out[[col]]), "NA", sprintf("%.17g", out[[col]]))
write.csv(out, file.path(here, "rrpp_tables.csv"), row.names = FALSE, quote = FALSE)
cat("wrote", file.path(here, "rrpp_tables.csv"), "\n")

# Pairwise comparisons after a model: the cells' least-squares means, and the
# slopes of shape on the covariate in each species (distance, difference of
# lengths, angle in degrees).
pairwise_rows <- function(name, pw, statistic, test.type) {
  tab <- summary(pw, test.type = test.type, angle.type = "deg")$summary.table
  pairs <- strsplit(rownames(tab), ":", fixed = TRUE)
  value <- if (test.type == "VC") tab$angle else tab$d
  data.frame(case = name, first = sapply(pairs, `[`, 1), second = sapply(pairs, `[`, 2), statistic = statistic,
             value = value, Z = tab$Z, P = tab[[ncol(tab)]])
}
full_fit <- function(lm_file, groups_file, cov_file, formula) {
  d <- variables(groups_file, cov_file)
  d$coords <- full_shapes(lm_file)
  fit <- lm.rrpp(as.formula(paste("coords ~", formula)), data = do.call(rrpp.data.frame, d), iter = iter, seed = 1,
                 print.progress = FALSE)
  list(fit = fit, d = d)
}
cells <- full_fit("pupfish.lm.txt", "pupfish.groups.txt", NA, "G1 * G2")
cells_pw <- pairwise(cells$fit, groups = interaction(cells$d$G1, cells$d$G2))
slopes <- full_fit("plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "cov * G1")
slopes_pw <- pairwise(slopes$fit, groups = slopes$d$G1, covariate = slopes$d$cov)
pw <- rbind(pairwise_rows("pupfish_cells", cells_pw, "d", "dist"),
            pairwise_rows("plethodon_slopes", slopes_pw, "d", "dist"),
            pairwise_rows("plethodon_slopes", slopes_pw, "length_difference", "DL"),
            pairwise_rows("plethodon_slopes", slopes_pw, "angle", "VC"))
for (col in c("value", "Z", "P")) pw[[col]] <- sprintf("%.17g", pw[[col]])
write.csv(pw, file.path(here, "rrpp_pairwise.csv"), row.names = FALSE, quote = FALSE)
cat("wrote", file.path(here, "rrpp_pairwise.csv"), "\n")

# Plain means: the groups' own averages of shape.  RRPP compares the
# least-squares means of the model it is given, which for a model of the
# factor alone are its plain means; the permutations move the residuals of
# the null model, here the reduced model of the last term of "cov + G1".
larval <- full_fit("larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt", "G1")
larval_null <- lm.rrpp(coords ~ cov, data = do.call(rrpp.data.frame, larval$d), iter = iter, seed = 1,
                       print.progress = FALSE)
plain_pw <- pairwise(larval$fit, fit.null = larval_null, groups = larval$d$G1)
plain <- pairwise_rows("larval_plain", plain_pw, "d", "dist")
for (col in c("value", "Z", "P")) plain[[col]] <- sprintf("%.17g", plain[[col]])
write.csv(plain, file.path(here, "rrpp_pairwise_plain.csv"), row.names = FALSE, quote = FALSE)
cat("wrote", file.path(here, "rrpp_pairwise_plain.csv"), "\n")

# Regression scores of shape on the covariate, as RRPP's and geomorph's
# regression plots compute them (type "regression", reg.type "RegScore").
regscore_rows <- function(name, fit, predictor) {
  pdf(NULL)
  r <- plot(fit, type = "regression", predictor = predictor, reg.type = "RegScore")
  invisible(dev.off())
  data.frame(case = name, specimen = seq_along(predictor), x = sprintf("%.17g", predictor),
             score = sprintf("%.17g", as.vector(r$RegScore)))
}
partial_fit <- function(lm_file, groups_file, cov_file, formula) {
  d <- variables(groups_file, cov_file)
  d$coords <- partial_shapes(lm_file)
  fit <- procD.lm(as.formula(paste("coords ~", formula)), data = do.call(geomorph.data.frame, d), iter = 99, seed = 1,
                  print.progress = FALSE)
  list(fit = fit, d = d)
}
larval_size <- full_fit("larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt", "cov + G1")
pupfish_size <- partial_fit("pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt", "log(cov) + G1 * G2")
scores <- rbind(regscore_rows("plethodon_slopes", slopes$fit, slopes$d$cov),
                regscore_rows("larval_size", larval_size$fit, larval_size$d$cov),
                regscore_rows("pupfish_partial_logsize", pupfish_size$fit, log(pupfish_size$d$cov)))
write.csv(scores, file.path(here, "rrpp_regscore.csv"), row.names = FALSE, quote = FALSE)
cat("wrote", file.path(here, "rrpp_regscore.csv"), "\n")
