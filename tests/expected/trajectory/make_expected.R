# Writes the expected numbers of the trajectory tests (rrpp_trajectory.csv
# and rrpp_trajectory_tables.csv beside this script) with RRPP's lm.rrpp,
# anova and trajectory.analysis (+ summary, attributes MD, TC and SD), on
# the two bundled sets of make_data.R:
#
# - "stages": data/trajectories.csv, group x stage.  The shapes are the
#   aligned coordinates quillan-batch's --export-specimens writes (the
#   program's own full Procrustes fits) projected onto the tangent space at
#   their mean, as the model tests (tests/expected/models) take them (the
#   test runs quillan with --gpa-steps gpagen, whose superimposition stops
#   where the export's does);
# - "motion": data/motionpaths.csv, RRPP's motionpaths as they are (quillan
#   reads them with --coordinates as-loaded --points 5).
#
#   Rscript tests/expected/trajectory/make_expected.R BUILD/quillan-batch [DATA_DIR]
#
# The angles: RRPP's are between first principal axes whose signs LAPACK
# chooses, so where one axis comes out reversed it reports 180 - angle.
# quillan points every axis from the first point of its trajectory towards
# the last; the expected angles, and their Z and p, are those of the axes so
# pointed, taken from RRPP's own trajectories of every permutation and
# summarised with RRPP's own pval and effect.size.  The path lengths and
# shape differences are RRPP's summaries as they stand.
suppressPackageStartupMessages(library(RRPP))
args <- commandArgs(trailingOnly = TRUE)
batch <- args[1]
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
data <- if (length(args) >= 2) args[2] else file.path(here, "..", "..", "..", "data")
iter <- 9999

project <- function(a) {
  m <- colMeans(a)
  m[c(TRUE, FALSE)] <- m[c(TRUE, FALSE)] - mean(m[c(TRUE, FALSE)])
  m[c(FALSE, TRUE)] <- m[c(FALSE, TRUE)] - mean(m[c(FALSE, TRUE)])
  m <- m / sqrt(sum(m^2))
  a %*% (diag(length(m)) - tcrossprod(m)) + matrix(1, nrow(a), 1) %*% t(m)
}
aligned <- function(file) {
  out <- tempfile(fileext = ".csv")
  if (system2(batch, c("export-specimens", "--import", file, "--out", out)) != 0) stop("export-specimens failed")
  s <- read.csv(out)
  project(as.matrix(s[, grep("^[xy][0-9]+$", names(s))]))
}

oriented_angles <- function(TA) {
  lapply(TA$trajectories, function(tj) {
    axes <- t(sapply(tj, function(x) {
      v <- La.svd(scale(x, scale = FALSE), 0, 1)$vt[1, ]
      if (sum(v * (x[nrow(x), ] - x[1, ])) < 0) -v else v
    }))
    acos(pmin(pmax(tcrossprod(axes), -1), 1)) * 180 / pi
  })
}

pair_rows <- function(case, groups, what, M) {
  out <- NULL
  for (a in 1:(length(groups) - 1)) for (b in (a + 1):length(groups)) {
    v <- sapply(M, function(x) x[a, b])
    out <- rbind(out, data.frame(case = case, first = groups[a], second = groups[b], statistic = what,
                                 value = v[1], Z = RRPP:::effect.size(v), P = RRPP:::pval(v)))
  }
  out
}

# The model's terms are named as quillan names them, by the files' columns.
run_case <- function(case, Y, group, level, points = NULL, names = c("group", "level")) {
  d <- rrpp.data.frame(Y = Y)
  d[[names[1]]] <- group
  d[[names[2]]] <- level
  f <- as.formula(if (is.null(points)) paste("Y ~", names[1], "*", names[2]) else paste("Y ~", names[1]))
  fit <- lm.rrpp(f, data = d, iter = iter, SS.type = "I", seed = 1, print.progress = FALSE)
  TA <- trajectory.analysis(fit, groups = group, traj.pts = if (is.null(points)) level else points)
  groups <- levels(group)
  tab <- as.data.frame(anova(fit)$table)
  tables <- data.frame(case = case, term = rownames(tab), Df = tab$Df, SS = tab$SS, MS = tab$MS, Rsq = tab$Rsq,
                       F = tab$F, Z = tab$Z, P = tab[["Pr(>F)"]])
  md <- summary(TA, attribute = "MD")
  rows <- data.frame(case = case, first = groups, second = "", statistic = "path_length", value = md$x$PD$obs,
                     Z = NA, P = NA)
  rows <- rbind(rows, pair_rows(case, groups, "length_difference", TA$MD))
  tc <- summary(TA, attribute = "TC", angle.type = "deg")
  ours <- oriented_angles(TA)
  rrpp_angles <- tc$pairwise.tables$angle
  flipped <- abs(ours[[1]] - rrpp_angles) > 1e-6
  cat(case, ": RRPP's observed angles reversed on", sum(flipped[upper.tri(flipped)]), "pairs\n")
  rows <- rbind(rows, pair_rows(case, groups, "angle", ours))
  if (!is.null(TA$SD)) rows <- rbind(rows, pair_rows(case, groups, "shape_difference", TA$SD))
  list(tables = tables, rows = rows)
}

st <- read.csv(file.path(data, "trajectories.csv"))
stages <- run_case("stages", aligned(file.path(data, "trajectories.csv")), factor(st$group), factor(st$stage),
                   names = c("group", "stage"))
mp <- read.csv(file.path(data, "motionpaths.csv"))
motion <- run_case("motion", as.matrix(mp[, grep("^[xy][0-9]+$", names(mp))]), factor(mp$path), factor(mp$path), 5,
                   names = c("path", "unused"))

options(digits = 17)
write.csv(rbind(stages$tables, motion$tables), file.path(here, "rrpp_trajectory_tables.csv"), row.names = FALSE, quote = FALSE)
write.csv(rbind(stages$rows, motion$rows), file.path(here, "rrpp_trajectory.csv"), row.names = FALSE, quote = FALSE)
