# Plethodon salamanders (geomorph's example data): 40 heads, 12 landmarks,
# two species at two sites.  Does head shape differ between the species,
# between the sites, and does the species' difference depend on the site?
library(quillan)

pleth <- quillan::read(system.file("extdata", "plethodon.csv", package = "quillan"))
print(pleth)

# geomorph's procD.lm: the landmarks are superimposed as gpagen does, then
# every term is tested by randomized residuals.
fit <- quillan::procD(coords ~ species * site, data = pleth, iter = 999, seed = 1)
print(summary(fit))

# The same model by the action's own name, with every option of its own:
# sums of squares each term last, and the four cells compared pairwise.
cells <- quillan::run("model", pleth, formula = "species * site", ss.type = "III",
                      pairwise = "species:site", seed = 1)
print(cells)
