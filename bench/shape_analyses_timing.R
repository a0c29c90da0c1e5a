# geomorph's and MASS's times for what quillan_bench_shape_analyses times:
# the same data and partitions, 9,999 permutations, one thread.
#   Rscript bench/shape_analyses_timing.R [DATA_DIR]
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(RRPP)
  library(geomorph)
  library(MASS)
})
args <- commandArgs(trailingOnly = TRUE)
data <- if (length(args) >= 1) args[1] else "data"
read_table <- function(name) as.matrix(read.table(file.path(data, name)))
aligned <- function(set) {
  raw <- read_table(paste0(set, ".lm.txt"))
  k <- (ncol(raw) - 1) / 2
  gpagen(arrayspecs(raw[, 1:(2 * k)], k, 2), print.progress = FALSE)$coords
}
larval <- aligned("larvalHead")
treatment <- factor(read_table("larvalMorph.treatment.groups.txt")[, 1])
pleth <- aligned("plethodon")
pupfish <- aligned("pupfish")
# pupfish's centroid size and group code: the table the PLS of shape is taken against.
pup_table <- cbind(read_table("pupfish.cov.txt")[, 1], read_table("pupfish.groups.txt")[, 1])
# The mosquito wings, raw: bilat.symmetry superimposes them itself.  The
# replicate is each configuration's place among those of its individual and side.
mosquito_raw <- read_table("mosquito.lm.txt")
mosquito <- arrayspecs(mosquito_raw[, 1:36], 18, 2)
ind <- factor(read_table("mosquito.ind.groups.txt")[, 1])
side <- factor(read_table("mosquito.side.groups.txt")[, 1])
replicate <- factor(ave(seq_along(ind), ind, side, FUN = seq_along))
modules <- c(rep("A", 5), rep("B", 7))
gdf <- geomorph.data.frame(coords = larval, treatment = treatment)
# Processor time (user + system) of this process: on a shared machine the
# wall time says more about the neighbours than about the code.
# A quick one is run `reps` times and its mean given, below the clock's millisecond.
time <- function(what, expr, reps = 1) {
  t <- system.time(for (i in seq_len(reps)) eval.parent(substitute(expr)))
  cat(sprintf("%-45s %8.4f s\n", what, (t[["user.self"]] + t[["sys.self"]]) / reps))
}
time("outliers", { pdf(NULL); plotOutliers(larval, groups = treatment); dev.off() })
time("disparity", morphol.disparity(coords ~ 1, groups = ~treatment, data = gdf, iter = 9999, print.progress = FALSE))
time("lda+cv (quillan's cva classification)", { x <- prcomp(two.d.array(larval))$x[, 1:48]; lda(1000 * x, treatment); lda(1000 * x, treatment, CV = TRUE) },
     reps = 20)
time("integration", integration.test(pleth, partition.gp = modules, iter = 9999, print.progress = FALSE))
time("pls", two.b.pls(two.d.array(pupfish), pup_table, iter = 9999, print.progress = FALSE))
time("modularity", modularity.test(pleth, modules, iter = 9999, print.progress = FALSE))
time("symmetry", bilat.symmetry(mosquito, ind = ind, side = side, replicate = replicate, object.sym = FALSE,
                                iter = 9999, print.progress = FALSE))
