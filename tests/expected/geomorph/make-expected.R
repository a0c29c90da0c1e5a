# Writes the numbers geomorph gives for data/plethodon_curves.tps, which the
# tests hold quillan's import steps against:
#   estimated_tps.csv, estimated_reg.csv  estimate.missing (TPS, Reg): every
#       coordinate of every specimen with a gap, as estimate.missing returns it
#   slid_be.csv, slid_procd.csv  gpagen with the curves' inner points sliding
#       (bending energy, Procrustes distance) on the TPS-estimated array:
#       the aligned coordinates (coords), then iter, Q and Csize.  Sliding by
#       Procrustes distance runs up to 100 iterations (max.iter = 100): within
#       gpagen's default 10 its points still move on this file.
#   slid_procd_limit.csv, .iter  the same stopped at max.iter = 10, unsettled
#   aligned_plethodon.csv  gpagen with its defaults on data/plethodon.lm.txt
#       (fixed landmarks only): the aligned coordinates
# Run from this folder with R and geomorph installed:
#   Rscript make-expected.R
options(rgl.useNULL = TRUE)
suppressMessages(library(geomorph))

file <- file.path("..", "..", "..", "data", "plethodon_curves.tps")
A <- readland.tps(file, specID = "ID", negNA = TRUE, readcurves = TRUE, warnmsg = FALSE)
p <- dim(A)[1]

# The sliders quillan takes by default: each curve's inner points, between
# their neighbours (curves of 10 and 6 points after the 12 landmarks).
curve_sliders <- function(fixed, sizes) {
  s <- NULL
  base <- fixed
  for (n in sizes) {
    j <- 2:(n - 1)
    s <- rbind(s, cbind(base + j - 1, base + j, base + j + 1))
    base <- base + n
  }
  s
}
curves <- curve_sliders(12, c(10, 6))

write_rows <- function(m, name) {
  write.csv(m, name, row.names = FALSE, quote = FALSE)
}
fmt <- function(x) formatC(x, digits = 17, format = "g")

gaps <- which(apply(is.na(A[, 1, ]), 2, any))
for (method in c("TPS", "Reg")) {
  E <- estimate.missing(A, method = method)
  rows <- NULL
  for (s in gaps)
    for (j in 1:p)
      rows <- rbind(rows, c(s, j, as.integer(is.na(A[j, 1, s])), fmt(E[j, 1, s]), fmt(E[j, 2, s])))
  colnames(rows) <- c("specimen", "landmark", "estimated", "x", "y")
  write_rows(rows, paste0("estimated_", tolower(method), ".csv"))
}

E <- estimate.missing(A, method = "TPS")
write_slid <- function(g, stem) {
  n <- dim(g$coords)[3]
  rows <- t(sapply(1:n, function(i) fmt(as.vector(t(g$coords[, , i])))))
  colnames(rows) <- paste0(rep(c("x", "y"), p), rep(1:p, each = 2))
  rows <- cbind(specimen = 1:n, Csize = fmt(g$Csize), rows)
  write_rows(rows, paste0(stem, ".csv"))
  writeLines(c(paste0("iter,", g$iter), paste0("Q,", fmt(g$Q))), paste0(stem, ".iter"))
}
for (procd in c(FALSE, TRUE)) {
  g <- gpagen(E, curves = curves, ProcD = procd, max.iter = if (procd) 100 else 10, print.progress = FALSE)
  write_slid(g, paste0("slid_", if (procd) "procd" else "be"))
}
# Procrustes distance stopped at gpagen's default limit, where its points
# still move: what gpagen returns there.
write_slid(gpagen(E, curves = curves, ProcD = TRUE, max.iter = 10, print.progress = FALSE), "slid_procd_limit")

x <- as.matrix(read.table(file.path("..", "..", "..", "data", "plethodon.lm.txt")))
g <- gpagen(arrayspecs(x[, 1:24], 12, 2), print.progress = FALSE)
rows <- t(sapply(1:dim(g$coords)[3], function(i) fmt(as.vector(t(g$coords[, , i])))))
colnames(rows) <- paste0(rep(c("x", "y"), 12), rep(1:12, each = 2))
write_rows(cbind(specimen = 1:nrow(rows), Csize = fmt(g$Csize), rows), "aligned_plethodon.csv")
