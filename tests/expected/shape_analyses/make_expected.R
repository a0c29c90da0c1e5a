# Writes the expected numbers of the outlier, disparity (and later) tests
# beside this script, with geomorph (gpagen, plotOutliers' rule,
# morphol.disparity) on the bundled example data, aligned by gpagen from the
# raw coordinates (quillan's --alignment partial).
#
#   Rscript tests/expected/shape_analyses/make_expected.R [DATA_DIR]
#
# Every file is long: case,key,value.  Needs R with RRPP and geomorph.
# ONLY=cva (say) in the environment writes that file alone.
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(RRPP)
  library(geomorph)
})
args <- commandArgs(trailingOnly = TRUE)
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
data <- if (length(args) >= 1) args[1] else file.path(here, "..", "..", "..", "data")
iter <- 9999

only <- Sys.getenv("ONLY")
wanted <- function(name) only == "" || only == name
read_table <- function(name) as.matrix(read.table(file.path(data, name)))
aligned <- function(lm_file) {
  raw <- read_table(lm_file)
  k <- (ncol(raw) - 1) / 2
  gpagen(arrayspecs(raw[, 1:(2 * k)], k, 2), print.progress = FALSE)$coords
}
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)
write_rows <- function(file) {
  out <- do.call(rbind, rows)
  out$value <- sprintf("%.17g", out$value)
  write.csv(out, file.path(here, file), row.names = FALSE, quote = FALSE)
  rows <<- list()
}

# plotOutliers' own steps, group by group; the order it returns is checked
# against the distances sorted here.
outliers <- function(case, lm_file, groups_file = NA) {
  A <- aligned(lm_file)
  n <- dim(A)[3]
  dimnames(A)[[3]] <- as.character(seq_len(n))
  g <- if (is.na(groups_file)) factor(rep("all", n)) else factor(read_table(groups_file)[, 1])
  order_r <- suppressWarnings({
    pdf(NULL)
    o <- plotOutliers(A, groups = if (is.na(groups_file)) NULL else g)
    dev.off()
    o
  })
  for (j in levels(g)) {
    who <- which(g == j)
    mn <- matrix(t(mshape(A[, , who])), nrow = 1)
    d <- apply(two.d.array(A[, , who, drop = FALSE]), 1, function(r) sqrt(sum((r - mn)^2)))
    D <- sort(d, decreasing = TRUE)
    Q <- summary(D)
    UL <- as.numeric(Q[5] + 1.5 * (Q[5] - Q[2]))
    got <- if (is.list(order_r)) order_r[[j]] else order_r
    stopifnot(all(as.integer(names(got)) == who[order(d, decreasing = TRUE)]))
    for (i in seq_along(who)) put(case, paste0("d.", who[i]), d[i])
    put(case, paste0("lower.", j), as.numeric(Q[2]))
    put(case, paste0("median.", j), as.numeric(Q[3]))
    put(case, paste0("upper.", j), as.numeric(Q[5]))
    put(case, paste0("limit.", j), UL)
    for (f in which(D >= UL)) put(case, paste0("flagged.", j), as.integer(names(D)[f]))
  }
}
if (wanted("outliers")) {
outliers("plethodon", "plethodon.lm.txt")
outliers("plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt")
outliers("pupfish", "pupfish.lm.txt")
outliers("larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt")
outliers("ratland", "ratland.lm.txt")
write_rows("outliers.csv")
}

disparity <- function(case, lm_file, groups_file, cov_file, formula) {
  gdf <- geomorph.data.frame(coords = aligned(lm_file), G1 = factor(read_table(groups_file)[, 1]),
                             cov = read_table(cov_file)[, 1])
  r <- morphol.disparity(as.formula(formula), groups = ~G1, data = gdf, iter = iter, seed = 1,
                         print.progress = FALSE)
  L <- levels(gdf$G1)
  for (a in seq_along(L)) put(case, paste0("variance.", a), r$Procrustes.var[a])
  for (a in seq_along(L)) for (b in seq_along(L)) if (a < b) {
    put(case, paste0("difference.", a, ".", b), r$PV.dist[a, b])
    put(case, paste0("p.", a, ".", b), r$PV.dist.Pval[a, b])
  }
}
if (wanted("disparity")) {
disparity("plethodon_species_1", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "coords ~ 1")
disparity("plethodon_species_cov", "plethodon.lm.txt", "plethodon.species.groups.txt", "plethodon.cov.txt", "coords ~ cov")
disparity("pupfish_1", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt", "coords ~ 1")
disparity("pupfish_G1", "pupfish.lm.txt", "pupfish.groups.txt", "pupfish.cov.txt", "coords ~ G1")
disparity("larvalHead_treatment_1", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt", "coords ~ 1")
disparity("larvalHead_treatment_G1", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt", "larvalHead.cov.txt", "coords ~ G1")
write_rows("disparity.csv")
}

# Canonical variates on the principal component scores of the gpagen
# coordinates (components of non-zero variance), MASS::lda for the
# eigenvalues and the posteriors; the distances between the group means and
# their permutation p-values (the groups shuffled over the specimens, the
# pooled covariance recomputed each time) by hand.
suppressPackageStartupMessages(library(MASS))
cva <- function(case, lm_file, groups_file) {
  coords <- two.d.array(aligned(lm_file))
  g <- factor(read_table(groups_file)[, 1])
  pc <- prcomp(coords)
  x <- pc$x[, pc$sdev > 1e-10 * pc$sdev[1], drop = FALSE]
  # lda refuses components whose within-group spread is below 1e-4; its
  # results do not change with the scale of the variables.
  fit <- lda(1000 * x, g)
  put(case, "components", ncol(x))
  for (v in seq_along(fit$svd)) put(case, paste0("eigenvalue.", v), fit$svd[v]^2)
  post <- predict(fit)$posterior
  cv <- lda(1000 * x, g, CV = TRUE)$posterior
  for (i in seq_len(nrow(x))) for (j in seq_along(levels(g))) {
    put(case, paste0("posterior.", i, ".", j), post[i, j])
    put(case, paste0("cv_posterior.", i, ".", j), cv[i, j])
  }
  put(case, "percent_correct", 100 * mean(predict(fit)$class == g))
  put(case, "cv_percent_correct", 100 * mean(lda(1000 * x, g, CV = TRUE)$class == g))
  distances <- function(gr) {
    m <- apply(x, 2, function(col) tapply(col, gr, mean))
    w <- crossprod(x - m[as.integer(gr), ]) / (nrow(x) - nlevels(gr))
    out <- NULL
    for (a in seq_len(nlevels(gr))) for (b in seq_len(nlevels(gr))) if (a < b)
      out <- c(out, sqrt(mahalanobis(m[a, ], m[b, ], w)), sqrt(sum((m[a, ] - m[b, ])^2)))
    out
  }
  obs <- distances(g)
  set.seed(1)
  reached <- rowSums(sapply(seq_len(iter), function(i) distances(g[sample(length(g))]) >= obs - 1e-12))
  k <- 0
  for (a in seq_along(levels(g))) for (b in seq_along(levels(g))) if (a < b) {
    key <- paste0(a, ".", b)
    put(case, paste0("mahalanobis.", key), obs[2 * k + 1])
    put(case, paste0("procrustes.", key), obs[2 * k + 2])
    put(case, paste0("mahalanobis_p.", key), (reached[2 * k + 1] + 1) / (iter + 1))
    put(case, paste0("procrustes_p.", key), (reached[2 * k + 2] + 1) / (iter + 1))
    k <- k + 1
  }
}
if (wanted("cva")) {
cva("plethodon_species", "plethodon.lm.txt", "plethodon.species.groups.txt")
cva("larvalHead_treatment", "larvalHead.lm.txt", "larvalMorph.treatment.groups.txt")
cva("larvalHead_family", "larvalHead.lm.txt", "larvalMorph.family.groups.txt")
cva("plethodon_site", "plethodon.lm.txt", "plethodon.site.groups.txt")
write_rows("cva.csv")
}

# Two-block PLS between modules (integration.test) and of shape against a
# table (two.b.pls), and the covariance ratio of a partition
# (modularity.test, with and without its rotation search).
partition <- function(file) scan(file, what = "", quiet = TRUE)
integration <- function(case, lm_file, partition_file) {
  A <- aligned(lm_file)
  r <- integration.test(A, partition.gp = partition(partition_file), iter = iter, seed = 1, print.progress = FALSE)
  put(case, "r_pls", r$r.pls)
  put(case, "p", r$P.value)
  put(case, "Z", r$Z)
  if (!is.null(r$svd)) {
    for (j in seq_along(r$svd$d)) {
      put(case, paste0("singular.", j), r$svd$d[j])
      put(case, paste0("r.", j), cor(r$XScores[, j], r$YScores[, j]))
    }
  } else {
    m <- as.matrix(r$r.pls.mat)
    for (a in seq_len(nrow(m))) for (b in seq_len(nrow(m))) if (a < b) put(case, paste0("r_pls.", a, ".", b), m[a, b])
    k <- 0
    for (a in seq_len(nrow(m))) for (b in seq_len(nrow(m))) if (a < b) {
      k <- k + 1
      put(case, paste0("p.", a, ".", b), r$pairwise.P.values[k])
      put(case, paste0("Z.", a, ".", b), r$pairwise.Z[k])
    }
  }
}
block_pls <- function(case, lm_file, table) {
  A <- aligned(lm_file)
  y <- as.matrix(table)
  rownames(y) <- dimnames(A)[[3]] <- as.character(seq_len(dim(A)[3]))
  r <- two.b.pls(A, y, iter = iter, seed = 1, print.progress = FALSE)
  put(case, "r_pls", r$r.pls)
  put(case, "p", r$P.value)
  put(case, "Z", r$Z)
  for (j in seq_along(r$svd$d)) {
    put(case, paste0("singular.", j), r$svd$d[j])
    put(case, paste0("r.", j), cor(r$XScores[, j], r$YScores[, j]))
  }
}
modularity <- function(case, lm_file, partition_file, opt_rot) {
  A <- aligned(lm_file)
  r <- modularity.test(A, partition(partition_file), iter = iter, seed = 1, opt.rot = opt_rot, print.progress = FALSE)
  put(case, "CR", r$CR)
  put(case, "p", r$P.value)
  put(case, "Z", r$Z)
  if (!is.null(r$CR.mat)) {
    m <- as.matrix(r$CR.mat)
    for (a in seq_len(nrow(m))) for (b in seq_len(nrow(m))) if (a < b) put(case, paste0("CR.", a, ".", b), m[a, b])
  }
}
if (wanted("pls")) {
  integration("plethodon", "plethodon.lm.txt", file.path(data, "plethodon.partition.txt"))
  integration("plethodon_three", "plethodon.lm.txt", file.path(here, "plethodon.three.partition.txt"))
  integration("larvalHead", "larvalHead.lm.txt", file.path(here, "larvalHead.partition.txt"))
  block_pls("pupfish_block2", "pupfish.lm.txt", cbind(read_table("pupfish.cov.txt")[, 1], read_table("pupfish.groups.txt")[, 1]))
  write_rows("pls.csv")
}
if (wanted("modularity")) {
  modularity("plethodon_rotated", "plethodon.lm.txt", file.path(data, "plethodon.partition.txt"), TRUE)
  modularity("plethodon", "plethodon.lm.txt", file.path(data, "plethodon.partition.txt"), FALSE)
  modularity("plethodon_three", "plethodon.lm.txt", file.path(here, "plethodon.three.partition.txt"), TRUE)
  modularity("larvalHead_rotated", "larvalHead.lm.txt", file.path(here, "larvalHead.partition.txt"), TRUE)
  write_rows("modularity.csv")
}
