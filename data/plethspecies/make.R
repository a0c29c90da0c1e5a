# Writes geomorph's plethspecies data set as quillan reads it: the head
# shapes of 9 Plethodon species (11 landmarks, already aligned) as a TPS file
# whose IDs are the species' names exactly as the tree's tip labels spell
# them, and the tree as a Newick file.
#
#   Rscript data/plethspecies/make.R [path of geomorph's data/plethspecies.rda]
#
# Without an argument the data come from the installed geomorph package.
args <- commandArgs(trailingOnly = TRUE)
if (length(args) >= 1) {
  load(args[1])
} else {
  options(rgl.useNULL = TRUE)
  suppressMessages(library(geomorph))
  data(plethspecies)
}
library(ape)
out <- "data/plethspecies"

land <- plethspecies$land
phy <- plethspecies$phy
ids <- dimnames(land)[[3]]
stopifnot(setequal(ids, phy$tip.label))

# Numbers written so that they read back as the same double.
num <- function(x) {
  s <- sprintf("%.15g", x)
  bad <- as.numeric(s) != x
  s[bad] <- sprintf("%.17g", x[bad])
  s
}
lines <- character(0)
for (i in seq_len(dim(land)[3])) {
  lines <- c(lines, sprintf("LM=%d", dim(land)[1]))
  lines <- c(lines, paste(num(land[, 1, i]), num(land[, 2, i])))
  lines <- c(lines, paste0("ID=", ids[i]))
}
writeLines(lines, file.path(out, "plethspecies.tps"))
write.tree(phy, file.path(out, "plethspecies.tre"), digits = 15)
