# Called by rrpp_timing.sh with the data folder and, optionally, the folder
# of the generated studies (quillan_bench_models --write).  Each set is superimposed
# once (a plain generalised Procrustes fit, not timed); then the model fit
# and its permutation test are timed: lm.rrpp with 999 permutations and
# anova, on one thread.  Prints microseconds per permutation, of processor
# time and of wall time.
suppressPackageStartupMessages(library(RRPP))
args <- commandArgs(trailingOnly = TRUE)
dir <- if (length(args) > 0) args[1] else "data"

studies <- if (length(args) > 1) args[2] else ""

read_set <- function(name, groups, from = dir) {
  lm <- as.matrix(read.table(file.path(from, paste0(name, ".lm.txt"))))
  g <- as.matrix(read.table(file.path(from, paste0(groups, ".groups.txt"))))
  d <- list(coords = lm[, -ncol(lm), drop = FALSE], g1 = factor(g[, 1]), g2 = factor(g[, ncol(g)]))
  cov <- file.path(from, paste0(name, ".cov.txt"))
  if (file.exists(cov)) d$cov <- read.table(cov)[, 1]
  d
}

# Generalised full Procrustes superimposition, rows of x1 y1 ... xk yk.
gpa <- function(x) {
  k <- ncol(x) / 2
  z <- t(apply(x, 1, function(r) {
    c <- complex(real = r[c(TRUE, FALSE)], imaginary = r[c(FALSE, TRUE)])
    c <- c - mean(c)
    c / sqrt(sum(Mod(c)^2))
  }))
  ref <- z[1, ]
  for (pass in 1:100) {
    z <- t(apply(z, 1, function(c) c * sum(Conj(c) * ref) / sum(Mod(c)^2)))
    new <- colMeans(z)
    new <- new / sqrt(sum(Mod(new)^2))
    done <- sum(Mod(new - ref)^2) < 1e-12
    ref <- new
    if (done) break
  }
  out <- matrix(0, nrow(z), 2 * k)
  out[, c(TRUE, FALSE)] <- Re(z)
  out[, c(FALSE, TRUE)] <- Im(z)
  out
}

time_design <- function(label, formula, d, iter = 999) {
  rdf <- rrpp.data.frame(Y = gpa(d$coords), g1 = d$g1, g2 = d$g2, cov = if (is.null(d$cov)) numeric(nrow(d$coords)) else d$cov)
  t <- system.time({
    fit <- lm.rrpp(formula, data = rdf, iter = iter, print.progress = FALSE, Parallel = FALSE)
    invisible(anova(fit))
  })
  # Processor time (as quillan_bench_kernels' cpu_us_per_perm) and wall time.
  cpu <- t[["user.self"]] + t[["sys.self"]]
  cat(sprintf("%-28s cpu %10.1f  wall %10.1f  us per permutation\n", label, 1e6 * cpu / iter,
              1e6 * t[["elapsed"]] / iter))
}

sets <- list(plethodon = read_set("plethodon", "plethodon"), mosquito = read_set("mosquito", "mosquito"),
             larvalHead = read_set("larvalHead", "larvalMorph"), pupfish = read_set("pupfish", "pupfish"))
for (name in names(sets)) {
  d <- sets[[name]]
  time_design(paste0(name, "/RunOneWay"), Y ~ g1, d)
  time_design(paste0(name, "/RunTwoWay"), Y ~ g1 * g2, d)
}
# The generated studies of 2,000 specimens take RRPP about 20 ms a
# permutation: 199 of them.
if (nzchar(studies)) {
  time_design("crossed/G1*G2", Y ~ g1 * g2, read_set("crossed", "crossed", studies), iter = 199)
  time_design("slopes/cov*G1", Y ~ cov * g1, read_set("slopes", "slopes", studies), iter = 199)
}
