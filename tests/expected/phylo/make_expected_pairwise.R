# Writes the expected numbers of the pairwise comparisons after a
# phylogenetic model (pairwise_expected.csv beside this script), on the
# coalescent case that make_expected.R wrote (60 tips, a covariate and a
# factor of three levels, the rows in an order other than the tips').
#
#   Rscript tests/expected/phylo/make_expected_pairwise.R
# (PAIRWISE_ITER=9 for a quick look; the tests read 9,999 permutations.)
#
# The fit is RRPP's lm.rrpp with Cov = C.  RRPP's pairwise() on such a fit
# takes the coefficients of the transformed shapes on the untransformed
# design, which makes its means depend on the order of the rows; the means
# compared here are those of the GLS fit itself: for each permutation of the
# transformed residuals of the last term's reduced model (RRPP's own
# schedule of the fit), the GLS coefficients, handed to RRPP's own
# getLSmeans and getSlopes in place of the coefficients pairwise() draws.
# Z and p are RRPP's effect.size and pval of those.
#
# Rows: case,first,second,statistic,value,Z,P.
suppressPackageStartupMessages({
  library(ape)
  library(RRPP)
})
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
iter <- as.integer(Sys.getenv("PAIRWISE_ITER", "9999"))
d <- read.csv(file.path(here, "coalescent_data.csv"), check.names = FALSE)
phy <- read.tree(file.path(here, "coalescent.tre"))
y <- as.matrix(d[, -(1:3)])
rownames(y) <- d$name
g <- factor(d$g)
cov <- d$cov
C <- vcv.phylo(phy)[d$name, d$name]
data <- rrpp.data.frame(y = y, cov = cov, g = g)

gls_coefficients <- function(fit) {
  k <- length(fit$LM$term.labels)
  P <- RRPP:::Cov.proj(C)
  reduced <- as.matrix(P %*% RRPP:::getModels(fit, "all")$reduced[[k]]$X)
  full <- as.matrix(P %*% model.matrix(fit))
  ty <- as.matrix(P %*% y)
  res <- qr.resid(qr(reduced), ty)
  fitted <- ty - res
  qf <- qr(full)
  coef <- lapply(RRPP:::getPermInfo(fit, "perm.schedule")$perm.schedule, function(i) {
    b <- qr.coef(qf, fitted + res[i, , drop = FALSE])
    rownames(b) <- colnames(full)
    b
  })
  # The first is the observed data: the fit's own GLS coefficients.
  stopifnot(isTRUE(all.equal(unname(coef[[1]]), unname(as.matrix(fit$LM$gls.coefficients)), tolerance = 1e-10)))
  fit$LM$random.coef <- vector("list", k)
  fit$LM$random.coef[[k]] <- coef
  fit
}

rows <- list()
put_pairs <- function(case, statistic, per_perm) {
  levels <- levels(g)
  for (a in seq_along(levels)) for (b in seq_along(levels)) if (a < b) {
    s <- sapply(per_perm, function(m) m[a, b])
    rows[[length(rows) + 1]] <<- data.frame(case = case, first = levels[a], second = levels[b], statistic = statistic,
                                            value = s[1], Z = RRPP:::effect.size(s), P = RRPP:::pval(s))
  }
}
lengths_apart <- function(m) as.matrix(dist(sqrt(rowSums(m^2))))
angles <- function(m) {
  w <- m / sqrt(rowSums(m^2))
  r <- tcrossprod(w)
  r[] <- pmin(1, pmax(-1, r))
  acos(r) * 180 / pi
}

means_fit <- gls_coefficients(lm.rrpp(y ~ cov + g, data = data, Cov = C, iter = iter, seed = 1, print.progress = FALSE))
means <- RRPP:::getLSmeans(means_fit, g)

put_pairs("means", "d", lapply(means, function(m) as.matrix(dist(m))))

slopes_fit <- gls_coefficients(lm.rrpp(y ~ cov * g, data = data, Cov = C, iter = iter, seed = 1, print.progress = FALSE))
slopes <- RRPP:::getSlopes(slopes_fit, cov, g)
put_pairs("slopes", "d", lapply(slopes, function(m) as.matrix(dist(m))))
put_pairs("slopes", "length_difference", lapply(slopes, lengths_apart))
put_pairs("slopes", "angle", lapply(slopes, angles))

out <- do.call(rbind, rows)
for (col in c("value", "Z", "P")) out[[col]] <- sprintf("%.17g", out[[col]])
write.csv(out, file.path(here, "pairwise_expected.csv"), row.names = FALSE, quote = FALSE)
cat("wrote", file.path(here, "pairwise_expected.csv"), "\n")
