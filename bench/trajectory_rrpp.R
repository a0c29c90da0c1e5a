# Processor time of RRPP's trajectory analysis (lm.rrpp, then
# trajectory.analysis and its three summaries, 999 permutations) on the two
# bundled sets that build/bench/quillan_bench_trajectory times:
#   Rscript bench/trajectory_rrpp.R [DATA_DIR]
# It prints, per set, the processor seconds (user + system) and the
# microseconds per permutation.  The coordinates are taken as they are in
# the files: the work per permutation depends only on their dimensions.
suppressPackageStartupMessages(library(RRPP))
args <- commandArgs(trailingOnly = TRUE)
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
data <- if (length(args) >= 1) args[1] else file.path(here, "..", "data")
iter <- 999

cpu <- function(expr) {
  t <- system.time(expr)
  t[["user.self"]] + t[["sys.self"]]
}
time_set <- function(name, Y, group, level, points = NULL) {
  d <- rrpp.data.frame(Y = Y, group = group, level = level)
  f <- if (is.null(points)) Y ~ group * level else Y ~ group
  s <- cpu({
    fit <- lm.rrpp(f, data = d, iter = iter, seed = 1, print.progress = FALSE)
    a <- anova(fit)
    TA <- trajectory.analysis(fit, groups = group, traj.pts = if (is.null(points)) level else points)
    for (what in c("MD", "TC", "SD")) summary(TA, attribute = what)
  })
  cat(sprintf("%-12s RRPP %d permutations: %.2f s processor time, %.0f us per permutation\n", name, iter, s,
              1e6 * s / (iter + 1)))
}
st <- read.csv(file.path(data, "trajectories.csv"))
time_set("stages", as.matrix(st[, grep("^[xy][0-9]+$", names(st))]), factor(st$group), factor(st$stage))
mp <- read.csv(file.path(data, "motionpaths.csv"))
time_set("motionpaths", as.matrix(mp[, grep("^[xy][0-9]+$", names(mp))]), factor(mp$path), factor(mp$path), 5)
