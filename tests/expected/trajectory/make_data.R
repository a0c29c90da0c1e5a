# Writes the two example sets of the trajectory analysis into data/:
#
#   data/trajectories.csv  a simulated group x stage design: 3 groups (A, B,
#                          C), 4 stages (s1 to s4), 6 specimens a cell, 8
#                          landmarks in the plane, each specimen placed,
#                          turned and scaled at random as if digitised;
#   data/motionpaths.csv   RRPP's `motionpaths` (40 motion paths of 5 points
#                          in the plane, 4 groups), its rows as they are.
#
#   Rscript tests/expected/trajectory/make_data.R RRPP_MOTIONPATHS_RDA [DATA_DIR]
#
# RRPP_MOTIONPATHS_RDA is data/motionpaths.rda of RRPP's sources (at the
# commit data/README.md names).  Base R only; the seed is fixed below.
args <- commandArgs(trailingOnly = TRUE)
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
data <- if (length(args) >= 2) args[2] else file.path(here, "..", "..", "..", "data")

num <- function(x) {
  s <- sprintf("%.15g", x)
  bad <- as.numeric(s) != x
  s[bad] <- sprintf("%.17g", x[bad])
  s
}
write_rows <- function(file, head, cols) {
  lines <- c(paste(head, collapse = ","), do.call(paste, c(cols, sep = ",")))
  writeLines(lines, file, sep = "\n")
}

set.seed(20261209)
k <- 8
angle <- seq(0, 2 * pi, length.out = k + 1)[1:k]
mean_shape <- cbind(cos(angle) * c(1, 0.8, 1.1, 0.7, 1, 0.9, 1.2, 0.8), sin(angle) * 0.6)
groups <- c("A", "B", "C")
stages <- paste0("s", 1:4)
# Each group's change per stage: a direction of its own in the 16 variables
# and a length, B turned a little from A, C more and shorter.
base <- matrix(rnorm(2 * k), k, 2)
turn <- matrix(rnorm(2 * k), k, 2)
step <- list(A = 0.05 * base, B = 0.05 * (base + 0.4 * turn), C = 0.035 * (base + 1.2 * turn))
bend <- 0.02 * matrix(rnorm(2 * k), k, 2)
ids <- character(0); g <- character(0); s <- character(0); rows <- list()
for (gi in seq_along(groups)) for (si in seq_along(stages)) for (r in 1:6) {
  x <- mean_shape + (si - 1) * step[[gi]] + (si - 1)^2 * (gi - 1) * bend / 3 + matrix(rnorm(2 * k, sd = 0.02), k, 2)
  th <- runif(1, -pi, pi)
  rot <- matrix(c(cos(th), sin(th), -sin(th), cos(th)), 2, 2)
  x <- runif(1, 20, 40) * x %*% rot + matrix(runif(2, 0, 100), k, 2, byrow = TRUE)
  ids <- c(ids, sprintf("%s%s_%d", groups[gi], stages[si], r))
  g <- c(g, groups[gi]); s <- c(s, stages[si])
  rows[[length(rows) + 1]] <- as.vector(t(x))
}
coords <- do.call(rbind, rows)
head <- c("ID", "group", "stage", as.vector(rbind(paste0("x", 1:k), paste0("y", 1:k))))
write_rows(file.path(data, "trajectories.csv"), head,
           c(list(ids, g, s), lapply(seq_len(ncol(coords)), function(j) num(coords[, j]))))

load(args[1])
m <- motionpaths$trajectories
head <- c("ID", "path", as.vector(rbind(paste0("x", 1:5), paste0("y", 1:5))))
write_rows(file.path(data, "motionpaths.csv"), head,
           c(list(sprintf("M%02d", seq_len(nrow(m))), paste0("g", as.integer(motionpaths$groups))),
             lapply(seq_len(ncol(m)), function(j) num(m[, j]))))
