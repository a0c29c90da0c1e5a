# The expected numbers of the measurement-error analysis, from RRPP's
# measurement.error and ICCstats on RRPP's `fishy` (two digitising
# replicates of 60 simulated fish, three groups).
#   cd tests/expected/measurement_error && Rscript make_expected.R
# Writes fishy_input.csv (subject, replicate and group codes, then the
# coordinates RRPP analyses, as stored: fishy's coordinates are already
# superimposed, and measurement.error takes them as they are) and
# expected.csv (case, key, value).
#
# RRPP's own Z and P: its within-subject fit finds the subjects term in the
# formula and so takes neither branch that sets the within-subject
# permutations, which leaves every term's residuals permuted freely and
# the subjects term's not at all (every permutation is the observed data:
# Z = 0, P = 1).  The intended scheme (the replicate terms' residuals
# permuted within subjects, the subjects term's freely) is run below with
# RRPP's own pieces (perm.index, effect.size, pval) and written as
# intended_z and intended_p (9,999 permutations); RRPP's printed Z and P
# (999) are kept as rrpp_z and rrpp_p for the record.
suppressMessages(library(RRPP))
data(fishy)
n <- nrow(fishy$coords)
out <- "case,key,value"
put <- function(name, value) {  # name: the case, a dot, the key
  for (i in seq_along(value)) {
    nm <- if (length(value) > 1) paste0(name, ".", i) else name
    out <<- c(out, sprintf("%s,%s,%.17g", case, substring(nm, nchar(case) + 2), value[i]))
  }
}

subj <- as.integer(fishy$subj)
reps <- as.integer(fishy$reps)
grp <- as.integer(fishy$groups)
input <- cbind(subj, reps, grp, fishy$coords)
writeLines(c(paste(c("subj", "reps", "groups", colnames(fishy$coords)), collapse = ","),
             apply(input, 1, function(r) paste(sprintf("%.17g", r), collapse = ","))), "fishy_input.csv")

row_key <- c("Subjects" = "subjects", "Systematic ME" = "systematic", "Systematic ME:Groups" = "systematic_groups",
             "Random ME" = "random", "Total" = "total")

# The intended permutations of the within-subject II models, on RRPP's Y.
intended <- function(Y, groups, iter) {
  S <- fishy$subj; R <- fishy$reps; G <- fishy$groups
  Xs <- model.matrix(~ S)[, -1, drop = FALSE]
  Xr <- model.matrix(~ R)[, -1, drop = FALSE]
  Xgr <- if (groups) model.matrix(~ G * R)[, -(1:4), drop = FALSE] else NULL
  one <- matrix(1, n, 1)
  models <- list(Subjects = list(r = cbind(one, Xr, Xgr), f = cbind(one, Xs, Xr, Xgr), block = NULL),
                 "Systematic ME" = list(r = cbind(one, Xs), f = cbind(one, Xs, Xr), block = S))
  if (groups) models[["Systematic ME:Groups"]] <- list(r = cbind(one, Xs, Xr), f = cbind(one, Xs, Xr, Xgr), block = S)
  Qfull <- qr.Q(qr(cbind(one, Xs, Xr, Xgr)))
  lapply(models, function(m) {
    Qr <- qr.Q(qr(m$r)); Qf <- qr.Q(qr(m$f))
    res <- Y - Qr %*% crossprod(Qr, Y)
    ind <- RRPP:::perm.index(n, iter, block = m$block, seed = NULL)
    snr <- sapply(ind, function(i) {
      e <- res[i, , drop = FALSE]
      ss <- sum(crossprod(Qf, e)^2) - sum(crossprod(Qr, e)^2)
      rss <- sum(e^2) - sum(crossprod(Qfull, e)^2)
      ss / rss
    })
    c(Z = unname(RRPP:::effect.size(snr)), P = unname(RRPP:::pval(snr)))
  })
}

# The multivariate ICCs as ICCstats computes them (its own call fails on a
# measurement.error fit without groups, in summary()), from the SSCP
# matrices of the within-subject II terms; with groups, of Y less its group
# means, the subjects' by type I, as ICCstats refits it.  Checked against ICCstats where it runs.
mult_icc <- function(Y, groups) {
  S <- fishy$subj; R <- fishy$reps; G <- fishy$groups
  if (groups) Y <- Y - qr.fitted(qr(model.matrix(~ G)), Y)
  fit <- function(X) qr.fitted(qr(X), Y)
  X0 <- model.matrix(~ S + R)
  Xgr <- if (groups) model.matrix(~ G * R)[, -(1:4), drop = FALSE] else NULL
  full <- fit(cbind(X0, Xgr))
  # With groups ICCstats refits the model by type I: the subjects against the intercept.
  bs <- crossprod(if (groups) fit(model.matrix(~ S)) - fit(matrix(1, n, 1)) else full - fit(model.matrix(~ R)))
  bm <- crossprod(fit(X0) - fit(model.matrix(~ S)))
  e <- crossprod(Y - full)
  ns <- nlevels(S); nr <- nlevels(R)
  dfe <- n - ncol(cbind(X0, Xgr))
  MSBS <- bs / (ns - 1); MSBM <- bm / (nr - 1); MSE <- e / dfe
  MSWS <- (e + bm) / (dfe + nr - 1)
  ev <- function(m) { v <- Re(eigen(m)$values); v[v > 0] }
  list(icc = ev(solve(MSBS + (nr - 1) * MSWS) %*% (MSBS - MSWS)),
       icc_a = ev(solve(MSBS + (nr - 1) * MSE + nr / ns * (MSBM - MSE)) %*% (MSBS - MSE)),
       icc_c = ev(solve(MSBS + (nr - 1) * MSE) %*% (MSBS - MSE)))
}

for (use.pcs in c(TRUE, FALSE)) for (groups in c(FALSE, TRUE)) {
  case <- paste0(if (use.pcs) "pcs" else "coords", if (groups) ".groups" else "")
  ME <- measurement.error(Y = "coords", subjects = "subj", replicates = "reps", groups = if (groups) "groups" else NULL,
                          data = fishy, use.PCs = use.pcs, iter = 999)
  if (use.pcs) put(paste0(case, ".columns"), ME$LM$p)
  aov <- anova(ME)$table
  for (r in rownames(aov)) {
    k <- paste0(case, ".", row_key[[r]])
    put(paste0(k, ".df"), aov[r, "Df"])
    put(paste0(k, ".ss"), aov[r, "SS"])
    if (r != "Total") {
      put(paste0(k, ".ms"), aov[r, "MS"])
      put(paste0(k, ".rsq"), aov[r, "Rsq"])
    }
    if (!is.na(aov[r, "EtaSq.ME"])) put(paste0(k, ".etasq"), aov[r, "EtaSq.ME"])
    if (!is.na(aov[r, "SNR"])) {
      put(paste0(k, ".snr"), aov[r, "SNR"])
      put(paste0(k, ".rrpp_z"), aov[r, "Z"])
      put(paste0(k, ".rrpp_p"), aov[r, "Pr(>SNR)"])
    }
  }
  Y <- if (use.pcs) ordinate(fishy$coords, tol = 0.001)$x else fishy$coords
  for (r in names(z <- intended(Y, groups, 9999))) {
    put(paste0(case, ".", row_key[[r]], ".intended_z"), z[[r]][["Z"]])
    put(paste0(case, ".", row_key[[r]], ".intended_p"), z[[r]][["P"]])
  }
  icc <- ICCstats(ME, subjects = "Subjects", with_in = "Systematic ME", groups = if (groups) "groups" else NULL,
                  multivariate = FALSE, print.AOV = FALSE)
  put(paste0(case, ".icc"), icc$ICC_disp[["ICC"]])
  put(paste0(case, ".icc_a"), icc$ICC_disp[["ICC_a"]])
  put(paste0(case, ".icc_c"), icc$ICC_disp[["ICC_c"]])
  if (use.pcs) {
    m <- mult_icc(Y, groups)
    for (w in names(m)) put(paste0(case, ".m", w), m[[w]])
    if (groups) {  # the check against ICCstats's own
      ME2 <- measurement.error(Y = "coords", subjects = "subj", replicates = "reps", groups = "groups", data = fishy,
                               iter = 9, verbose = TRUE)
      mm <- ICCstats(ME2, subjects = "Subjects", with_in = "Systematic ME", groups = "groups", multivariate = TRUE,
                     print.AOV = FALSE)$ICC_mult
      k <- ncol(mm)
      stopifnot(max(abs(mm[1, ] - m$icc[1:k]), abs(mm[2, ] - m$icc_a[1:k]), abs(mm[3, ] - m$icc_c[1:k])) < 1e-10)
    }
  }
  if (!groups) {
    # The one-way Procrustes ANOVA of the subjects and its repeatability.
    one <- anova(lm.rrpp(coords ~ subj, data = fishy, iter = 0, print.progress = FALSE))$table
    if (use.pcs) one <- anova(lm.rrpp(Y ~ subj, data = rrpp.data.frame(Y = Y, subj = fishy$subj), iter = 0,
                                      print.progress = FALSE))$table
    ms.ind <- one["subj", "MS"]; ms.res <- one["Residuals", "MS"]
    put(paste0(case, ".repeatability"), (ms.ind - ms.res) / (ms.ind + (2 - 1) * ms.res))
  }
}
writeLines(out, "expected.csv")
