# Deterministic numbers to 1e-8 of geomorph's; Z and p, from permutations
# drawn apart, within their Monte-Carlo error.
expect_table <- function(table, expected, terms) {
  expect_equal(rownames(table), names(terms))
  exp <- expected[unname(terms), ]
  expect_equal(table$Df, exp$Df)
  for (col in c("SS", "MS", "Rsq", "F")) {
    expect_equal(table[[col]], exp[[col]], tolerance = 1e-8, label = col)
  }
  tested <- !is.na(exp$Z)
  expect_true(all(abs(table$Z[tested] - exp$Z[tested]) < 0.25 + 0.05 * abs(exp$Z[tested])))
  expect_true(all(table[["Pr(>F)"]][tested] <= 0.002))
}

test_that("procD on an imported file gives geomorph's gpagen + procD.lm table", {
  fit <- quillan::procD(coords ~ species * site, data = plethodon(), iter = 999, seed = 1)
  expect_s3_class(fit, "quillan_result")
  expect_identical(summary(fit), fit$table)
  expect_named(fit$table, c("Df", "SS", "MS", "Rsq", "F", "Z", "Pr(>F)"))
  expect_table(fit$table, expected_table("plethodon_partial_crossed"),
               c(species = "G1", site = "G2", "species:site" = "G1:G2", Residuals = "Residuals", Total = "Total"))
  expect_equal(fit$record$run$permutations, 999)
  expect_output(print(fit), "Pr(>F)", fixed = TRUE)
})

test_that("the same model from files named by option, and from an array with a data frame", {
  expected <- expected_table("plethodon_partial_crossed")
  files <- quillan::run("model", landmarks = repo_file("data", "plethodon.lm.txt"),
                        groups = repo_file("data", "plethodon.groups.txt"), formula = "G1 * G2",
                        alignment = "partial", gpa_steps = "gpagen", seed = 1)
  expect_table(files$table, expected, c(G1 = "G1", G2 = "G2", "G1:G2" = "G1:G2", Residuals = "Residuals", Total = "Total"))
  pleth <- plethodon()
  arr <- unname(pleth$coords)
  frame <- data.frame(sp = as.character(pleth$factors$species), st = pleth$factors$site)
  mem <- quillan::run("model", arr, factors = frame, formula = "sp * st", alignment = "partial",
                      gpa.steps = "gpagen", permutations = 99, seed = 1)
  expect_equal(unname(mem$table$SS), expected$SS, tolerance = 1e-8)
})
