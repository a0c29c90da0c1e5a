test_that("every action of the table is reached through the library", {
  table <- quillan::actions()
  expect_true(all(c("name", "alias", "options", "description") %in% names(table)))
  expect_true("model" %in% table$alias)
  expect_true("formula" %in% quillan::actions("model")$name)
  pleth <- plethodon()
  for (i in seq_len(nrow(table))) {
    action <- table$name[i]
    outcome <- tryCatch(quillan::run(action, pleth, factor = c("species", "site"), covariate.column = "logCS",
                                     permutations = 9, seed = 1),
                        quillan_refused = function(e) "refused", quillan_failed = function(e) "failed")
    # Known to the library and run, or turned down by the action itself.
    expect_true(inherits(outcome, "quillan_result") || outcome %in% c("refused", "failed"), label = action)
  }
})
