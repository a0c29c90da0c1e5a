# Processor times of geomorph's physignal, procD.pgls, compare.evol.rates
# (two groups: every other tip; by permutation and by simulation),
# phylo.integration and phylo.modularity (landmarks 1-5 and 6-10 the two
# modules) on a simulated study of 1,000 species x 10 landmarks (ape's rcoal,
# Brownian motion of the 20 coordinates, a covariate), 999 permutations: the figures
# bench/phylo_bench.cpp's are held against (docs/performance.md).  The
# 20,000-species study is not run here: geomorph builds and decomposes the
# 20,000 x 20,000 covariance (3.2 GB a copy).
#   Rscript bench/phylo_geomorph.R [SPECIES]
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(ape)
  library(RRPP)
  library(geomorph)
})
args <- commandArgs(trailingOnly = TRUE)
n <- if (length(args) >= 1) as.integer(args[1]) else 1000
set.seed(1)
phy <- rcoal(n)
C <- vcv.phylo(phy)
L <- t(chol(C))
x <- L %*% matrix(rnorm(n * 20), n, 20)
cov <- as.numeric(L %*% rnorm(n))
rownames(x) <- names(cov) <- rownames(C)
cpu <- function(t) unname(t["user.self"] + t["sys.self"])
t_signal <- system.time(physignal(x, phy, iter = 999, print.progress = FALSE))
d <- rrpp.data.frame(y = x, cov = cov)
t_pgls <- system.time(procD.pgls(y ~ cov, phy = phy, data = d, iter = 999, print.progress = FALSE))
gp <- setNames(factor(seq_len(n) %% 2), rownames(x))
t_rates <- system.time(compare.evol.rates(x, phy, gp, iter = 999, method = "permutation", print.progress = FALSE))
t_rates_sim <- system.time(compare.evol.rates(x, phy, gp, iter = 999, method = "simulation", print.progress = FALSE))
a <- arrayspecs(x, 10, 2)
gps <- rep(1:2, each = 5)
t_integration <- system.time(phylo.integration(a, partition.gp = gps, phy = phy, iter = 999, print.progress = FALSE))
t_modularity <- system.time(phylo.modularity(a, partition.gp = gps, phy = phy, iter = 999, print.progress = FALSE))
cat(sprintf("geomorph %s, %d species x 10 landmarks, 999 permutations\n", packageVersion("geomorph"), n))
cat(sprintf("physignal  %.2f s processor time\n", cpu(t_signal)))
cat(sprintf("procD.pgls %.2f s processor time\n", cpu(t_pgls)))
cat(sprintf("compare.evol.rates, permutation %.2f s processor time\n", cpu(t_rates)))
cat(sprintf("compare.evol.rates, simulation %.2f s processor time\n", cpu(t_rates_sim)))
cat(sprintf("phylo.integration %.2f s processor time\n", cpu(t_integration)))
cat(sprintf("phylo.modularity  %.2f s processor time\n", cpu(t_modularity)))
