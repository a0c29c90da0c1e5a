# Writes the numbers geomorph gives for real 3-D landmark sets, which the
# tests hold quillan's import steps in space against:
#   estimated_tps.csv, estimated_reg.csv  estimate.missing (TPS, Reg) on
#       ../../../data/brains.lm.txt (58 brains, 24 landmarks, from R's
#       shapes) with the landmarks of `gaps` below removed on purpose:
#       every coordinate of every specimen with a gap, as estimate.missing
#       returns it
#   scallops.tps, scallops.sliders  geomorph's `scallops` (5 scallop shells,
#       46 landmarks in 3-D: 16 fixed, 30 on the surface) as an LM3= file with
#       its names, and its curve sliders (`curvslide`, 11 along the shell's
#       rim, a closed curve); the surface points are not slid here
#   slid_be.csv, slid_procd.csv  gpagen with those curves sliding (bending
#       energy, Procrustes distance; its default limit of 10 iterations, at
#       which neither has settled on this set): the aligned coordinates
#       (coords, x1 y1 z1 ...), then iter and Q in slid_*.iter, and Csize
#   aligned_scallops.csv  gpagen of the same without sliding (fixed
#       landmarks only): the aligned coordinates
# Run from this folder with R and geomorph installed:
#   Rscript make-expected.R
options(rgl.useNULL = TRUE)
suppressMessages(library(geomorph))
fmt <- function(x) trimws(formatC(x, digits = 17, format = "g"))
write_rows <- function(m, name) write.csv(m, name, row.names = FALSE, quote = FALSE)

x <- as.matrix(read.table(file.path("..", "..", "..", "data", "brains.lm.txt")))
p <- 24
A <- arrayspecs(x[, 1:(3 * p)], p, 3)
# Specimen, landmark: one gap alone, two in one specimen, one at the end.
gaps <- rbind(c(3, 5), c(10, 1), c(10, 12), c(40, 24), c(41, 7))
for (g in 1:nrow(gaps)) A[gaps[g, 2], , gaps[g, 1]] <- NA
holed <- sort(unique(gaps[, 1]))
for (method in c("TPS", "Reg")) {
  E <- estimate.missing(A, method = method)
  rows <- NULL
  for (s in holed)
    for (j in 1:p)
      rows <- rbind(rows, c(s, j, as.integer(is.na(A[j, 1, s])), fmt(E[j, , s])))
  colnames(rows) <- c("specimen", "landmark", "estimated", "x", "y", "z")
  write_rows(rows, paste0("estimated_", tolower(method), ".csv"))
}

data(scallops)
S <- scallops$coorddata
ps <- dim(S)[1]
lines <- NULL
for (i in 1:dim(S)[3]) {
  lines <- c(lines, paste0("LM3=", ps))
  for (j in 1:ps) lines <- c(lines, paste(fmt(S[j, , i]), collapse = " "))
  lines <- c(lines, paste0("ID=", dimnames(S)[[3]][i]))
}
writeLines(lines, "scallops.tps")
write.csv(scallops$curvslide, "scallops.sliders", row.names = FALSE, quote = FALSE)
write_aligned <- function(g, stem) {
  n <- dim(g$coords)[3]
  rows <- t(sapply(1:n, function(i) fmt(as.vector(t(g$coords[, , i])))))
  colnames(rows) <- paste0(rep(c("x", "y", "z"), ps), rep(1:ps, each = 3))
  write_rows(cbind(specimen = 1:n, Csize = fmt(g$Csize), rows), paste0(stem, ".csv"))
  if (!is.null(g$Q)) writeLines(c(paste0("iter,", g$iter), paste0("Q,", fmt(g$Q))), paste0(stem, ".iter"))
}
for (procd in c(FALSE, TRUE))
  write_aligned(gpagen(S, curves = scallops$curvslide, ProcD = procd, print.progress = FALSE),
                paste0("slid_", if (procd) "procd" else "be"))
g <- gpagen(S, print.progress = FALSE)
g$Q <- NULL
write_aligned(g, "aligned_scallops")
