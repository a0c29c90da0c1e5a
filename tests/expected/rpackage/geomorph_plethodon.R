# The geomorph side of the worked case in docs/r.md: the Procrustes ANOVA of
# geomorph's plethodon example (gpagen, then procD.lm on species * site, 999
# iterations, seed 1), with seven digits.  The R package's own
# tests hold quillan::procD to the same numbers through
# tests/expected/models/rrpp_tables.csv (case plethodon_partial_crossed).
#   Rscript tests/expected/rpackage/geomorph_plethodon.R
suppressPackageStartupMessages({
  options(rgl.useNULL = TRUE)
  library(geomorph)
})
data(plethodon)
Y.gpa <- gpagen(plethodon$land, print.progress = FALSE)
gdf <- geomorph.data.frame(Y.gpa, species = plethodon$species, site = plethodon$site)
fit <- procD.lm(coords ~ species * site, data = gdf, iter = 999, seed = 1, print.progress = FALSE)
print(fit$aov.table, digits = 7)
