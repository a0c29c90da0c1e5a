# Writes the expected numbers of the shape analyses and of the model's
# pairwise comparisons on landmarks in space, beside this script, with
# geomorph, RRPP and MASS on the bundled 3-D sets written from R's shapes
# package (data/macaques.*, data/brains.*).  The brains' landmarks 1-12 lie
# in the right hemisphere and 13-24 are their mirror images in the left:
# brains.hemispheres.txt parts them so (1 right, 2 left), brains.levels.txt
# by their height in the mean brain (1 middle, 2 low, 3 high; numbered in
# the order they first appear, so that geomorph's sorted levels and the
# program's modules are numbered alike); the pairs are the object symmetry's.
#
#   Rscript tests/expected/toolkit3d/make_expected.R BUILD/quillan-batch [DATA_DIR]
#
# The shape analyses take gpagen's coordinates from the raw ones
# (quillan's --alignment partial); the pairwise comparisons take the
# program's own full Procrustes fits (--export-specimens) projected onto
# the tangent space at their mean, as models3d does.  Every file is long:
# case,key,value.  ONLY=cva (say) in the environment writes that file alone.
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(RRPP)
  library(geomorph)
  library(MASS)
})
args <- commandArgs(trailingOnly = TRUE)
batch <- args[1]
here <- dirname(normalizePath(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))))
data <- if (length(args) >= 2) args[2] else file.path(here, "..", "..", "..", "data")
iter <- 9999

only <- Sys.getenv("ONLY")
wanted <- function(name) only == "" || only == name
read_table <- function(name) as.matrix(read.table(file.path(data, name)))
raw_array <- function(lm_file) {
  raw <- read_table(lm_file)
  k <- (ncol(raw) - 1) / 3
  arrayspecs(raw[, 1:(3 * k)], k, 3)
}
aligned <- function(lm_file) gpagen(raw_array(lm_file), print.progress = FALSE)$coords
rows <- list()
put <- function(case, key, value) rows[[length(rows) + 1]] <<- data.frame(case = case, key = key, value = value)
write_rows <- function(file) {
  out <- do.call(rbind, rows)
  out$value <- sprintf("%.17g", out$value)
  write.csv(out, file.path(here, file), row.names = FALSE, quote = FALSE)
  rows <<- list()
}
partition <- function(file) scan(file.path(here, file), what = "", quiet = TRUE)

# plotOutliers' own steps, group by group, as shape_analyses does them.
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
    put(case, paste0("limit.", j), UL)
    for (f in which(D >= UL)) put(case, paste0("flagged.", j), as.integer(names(D)[f]))
  }
}
if (wanted("outliers")) {
  outliers("macaques", "macaques.lm.txt")
  outliers("macaques_sex", "macaques.lm.txt", "macaques.groups.txt")
  outliers("brains", "brains.lm.txt")
  outliers("brains_sex", "brains.lm.txt", "brains.sex.groups.txt")
  write_rows("outliers.csv")
}

disparity <- function(case, lm_file, groups_file, cov_file, formula) {
  gdf <- geomorph.data.frame(coords = aligned(lm_file), G1 = factor(read_table(groups_file)[, 1]))
  if (!is.na(cov_file)) gdf$cov <- read_table(cov_file)[, 1]
  r <- morphol.disparity(as.formula(formula), groups = ~G1, data = gdf, iter = iter, seed = 1, print.progress = FALSE)
  L <- levels(gdf$G1)
  for (a in seq_along(L)) put(case, paste0("variance.", a), r$Procrustes.var[a])
  for (a in seq_along(L)) for (b in seq_along(L)) if (a < b) {
    put(case, paste0("difference.", a, ".", b), r$PV.dist[a, b])
    put(case, paste0("p.", a, ".", b), r$PV.dist.Pval[a, b])
  }
}
if (wanted("disparity")) {
  disparity("brains_sex_1", "brains.lm.txt", "brains.sex.groups.txt", "brains.cov.txt", "coords ~ 1")
  disparity("brains_sex_cov", "brains.lm.txt", "brains.sex.groups.txt", "brains.cov.txt", "coords ~ cov")
  disparity("macaques_sex_1", "macaques.lm.txt", "macaques.groups.txt", NA, "coords ~ 1")
  write_rows("disparity.csv")
}

# Canonical variates as shape_analyses computes them: MASS::lda on the
# principal components that vary, the distances between the means by hand.
cva <- function(case, lm_file, groups_file) {
  coords <- two.d.array(aligned(lm_file))
  g <- factor(read_table(groups_file)[, 1])
  pc <- prcomp(coords)
  x <- pc$x[, pc$sdev > 1e-10 * pc$sdev[1], drop = FALSE]
  fit <- lda(1000 * x, g)
  put(case, "components", ncol(x))
  for (v in seq_along(fit$svd)) put(case, paste0("eigenvalue.", v), fit$svd[v]^2)
  post <- predict(fit)$posterior
  cv <- lda(1000 * x, g, CV = TRUE)
  # Where lda's leave-one-out gives NaN (macaque 15: 17 specimens leave 15
  # degrees of freedom for 14 components), the specimen's posterior from
  # lda refitted without it.
  for (i in which(is.na(cv$posterior[, 1]))) {
    refit <- lda(1000 * x[-i, ], g[-i])
    cv$posterior[i, ] <- predict(refit, 1000 * x[i, , drop = FALSE])$posterior
    cv$class[i] <- predict(refit, 1000 * x[i, , drop = FALSE])$class
    put(case, "refitted", i)
  }
  for (i in seq_len(nrow(x))) for (j in seq_along(levels(g))) {
    put(case, paste0("posterior.", i, ".", j), post[i, j])
    put(case, paste0("cv_posterior.", i, ".", j), cv$posterior[i, j])
  }
  put(case, "percent_correct", 100 * mean(predict(fit)$class == g))
  put(case, "cv_percent_correct", 100 * mean(cv$class == g))
  distances <- function(gr) {
    m <- apply(x, 2, function(col) tapply(col, gr, mean))
    w <- crossprod(x - m[as.integer(gr), ]) / (nrow(x) - nlevels(gr))
    c(sqrt(mahalanobis(m[1, ], m[2, ], w)), sqrt(sum((m[1, ] - m[2, ])^2)))
  }
  obs <- distances(g)
  set.seed(1)
  reached <- rowSums(sapply(seq_len(iter), function(i) distances(g[sample(length(g))]) >= obs - 1e-12))
  put(case, "mahalanobis.1.2", obs[1])
  put(case, "procrustes.1.2", obs[2])
  put(case, "mahalanobis_p.1.2", (reached[1] + 1) / (iter + 1))
  put(case, "procrustes_p.1.2", (reached[2] + 1) / (iter + 1))
}
if (wanted("cva")) {
  cva("macaques_sex", "macaques.lm.txt", "macaques.groups.txt")
  write_rows("cva.csv")
}

# Two-block PLS between modules (integration.test) and against a table
# (two.b.pls); the covariance ratio (modularity.test, whose search turns
# the landmarks about z in space).
pls_axes <- function(case, r) {
  for (j in seq_along(r$svd$d)) {
    put(case, paste0("singular.", j), r$svd$d[j])
    put(case, paste0("r.", j), cor(r$XScores[, j], r$YScores[, j]))
  }
}
integration <- function(case, lm_file, partition_file) {
  r <- integration.test(aligned(lm_file), partition.gp = partition(partition_file), iter = iter, seed = 1,
                        print.progress = FALSE)
  put(case, "r_pls", r$r.pls)
  put(case, "p", r$P.value)
  put(case, "Z", r$Z)
  if (!is.null(r$svd)) return(pls_axes(case, r))
  m <- as.matrix(r$r.pls.mat)
  k <- 0
  for (a in seq_len(nrow(m))) for (b in seq_len(nrow(m))) if (a < b) {
    k <- k + 1
    put(case, paste0("r_pls.", a, ".", b), m[a, b])
    put(case, paste0("Z.", a, ".", b), r$pairwise.Z[k])
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
  pls_axes(case, r)
}
modularity <- function(case, lm_file, partition_file, opt_rot = TRUE) {
  r <- modularity.test(aligned(lm_file), partition(partition_file), iter = iter, seed = 1, opt.rot = opt_rot,
                       print.progress = FALSE)
  put(case, "CR", r$CR)
  put(case, "p", r$P.value)
  put(case, "Z", r$Z)
  if (!is.null(r$CR.mat)) {
    m <- as.matrix(r$CR.mat)
    for (a in seq_len(nrow(m))) for (b in seq_len(nrow(m))) if (a < b) put(case, paste0("CR.", a, ".", b), m[a, b])
  }
}
if (wanted("pls")) {
  integration("brains_hemispheres", "brains.lm.txt", "brains.hemispheres.txt")
  integration("brains_levels", "brains.lm.txt", "brains.levels.txt")
  block_pls("brains_age", "brains.lm.txt", read_table("brains.cov.txt")[, 1, drop = FALSE])
  block_pls("brains_age_hand", "brains.lm.txt", cbind(read_table("brains.cov.txt")[, 1], read_table("brains.groups.txt")[, 2]))
  write_rows("pls.csv")
}
if (wanted("modularity")) {
  modularity("brains_hemispheres", "brains.lm.txt", "brains.hemispheres.txt")
  modularity("brains_levels", "brains.lm.txt", "brains.levels.txt")
  modularity("brains_levels_aligned", "brains.lm.txt", "brains.levels.txt", FALSE)
  write_rows("modularity.csv")
}

# Object symmetry of the brains (one configuration each, the hemispheres'
# landmarks paired): bilat.symmetry's shape table, and each brain's
# asymmetry as the distance between it and its reflection, superimposed
# together as bilat.symmetry superimposes them.
if (wanted("symmetry")) {
  A0 <- raw_array("brains.lm.txt")
  ind <- factor(seq_len(dim(A0)[3]))
  pairs <- cbind(1:12, 13:24)
  s <- bilat.symmetry(A0, ind = ind, object.sym = TRUE, land.pairs = pairs, iter = 9, print.progress = FALSE)
  tab <- as.data.frame(s$shape.anova)
  for (t in seq_len(nrow(tab))) for (col in c("Df", "SS", "MS", "Rsq", "F"))
    if (!is.na(tab[t, col])) put("brains_object", paste0(rownames(tab)[t], ".", col), tab[t, col])
  A <- gpagen(A0, print.progress = FALSE)$coords
  A2 <- A
  A2[pairs[, 1], , ] <- A[pairs[, 2], , ]
  A2[pairs[, 2], , ] <- A[pairs[, 1], , ]
  A2[, 1, ] <- -A2[, 1, ]
  both <- two.d.array(gpagen(array(c(A, A2), c(dim(A)[1:2], 2 * dim(A)[3])), print.progress = FALSE)$coords)
  n <- dim(A)[3]
  for (i in seq_len(n)) put("brains_object", paste0("asymmetry.", i), sqrt(sum((both[i, ] - both[n + i, ])^2)))
  write_rows("symmetry.csv")
}

# Pairwise comparisons after a model (RRPP's pairwise) on the full fits:
# the cells' least-squares means of sex x handedness, and the slopes of
# shape on age in each sex (distance, difference of lengths, angle).
project <- function(a) {
  m <- colMeans(a)
  for (axis in 1:3) {
    idx <- seq(axis, length(m), by = 3)
    m[idx] <- m[idx] - mean(m[idx])
  }
  m <- m / sqrt(sum(m^2))
  a %*% (diag(length(m)) - tcrossprod(m)) + matrix(1, nrow(a), 1) %*% t(m)
}
full_shapes <- function(lm_file) {
  out <- tempfile(fileext = ".csv")
  status <- system2(batch, c("export-specimens", "-l", file.path(data, lm_file), "--dimensions", "3", "--out", out))
  if (status != 0) stop("quillan-batch export-specimens failed")
  specimens <- read.csv(out)
  project(as.matrix(specimens[, grep("^[xyz][0-9]+$", names(specimens))]))
}
pairwise_rows <- function(case, pw, statistic, test.type) {
  tab <- summary(pw, test.type = test.type, angle.type = "deg")$summary.table
  pairs <- strsplit(rownames(tab), ":", fixed = TRUE)
  value <- if (test.type == "VC") tab$angle else tab$d
  for (i in seq_along(pairs)) {
    key <- paste(statistic, pairs[[i]][1], pairs[[i]][2])
    put(case, key, value[i])
    put(case, paste(key, "Z"), tab$Z[i])
    put(case, paste(key, "p"), tab[[ncol(tab)]][i])
  }
}
if (wanted("pairwise")) {
  g <- read_table("brains.groups.txt")
  d <- rrpp.data.frame(coords = full_shapes("brains.lm.txt"), G1 = factor(g[, 1]), G2 = factor(g[, 2]),
                       cov = read_table("brains.cov.txt")[, 1])
  cells <- lm.rrpp(coords ~ G1 * G2, data = d, iter = iter, seed = 1, print.progress = FALSE)
  pairwise_rows("brains_cells", pairwise(cells, groups = interaction(d$G1, d$G2)), "d", "dist")
  slopes <- lm.rrpp(coords ~ cov * G1, data = d, iter = iter, seed = 1, print.progress = FALSE)
  pw <- pairwise(slopes, groups = d$G1, covariate = d$cov)
  pairwise_rows("brains_slopes", pw, "d", "dist")
  pairwise_rows("brains_slopes", pw, "length_difference", "DL")
  pairwise_rows("brains_slopes", pw, "angle", "VC")
  write_rows("pairwise.csv")
}
