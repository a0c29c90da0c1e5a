# Writes the numbers geomorph gives for real 3-D landmark sets, which the
# tests hold quillan's import steps in space against:
#   estimated_tps.csv, estimated_reg.csv  estimate.missing (TPS, Reg) on
#       ../../../data/brains.lm.txt (58 brains, 24 landmarks, from R's
#       shapes) with the landmarks of `gaps` below removed on purpose:
#       every coordinate of every specimen with a gap, as estimate.missing
#       returns it
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
