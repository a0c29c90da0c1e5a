test_that("the library's refusals and usage errors are R conditions with its message", {
  pleth <- plethodon()
  err <- expect_error(quillan::run("model", pleth, formula = "species * habitat"), class = "quillan_refused")
  expect_s3_class(err, "quillan_error")
  expect_match(conditionMessage(err), "habitat", fixed = TRUE)
  expect_error(quillan::run("no-such-action", pleth), class = "quillan_usage")
  expect_error(quillan::run("model", pleth, no_such_option = 1), class = "quillan_usage")
  expect_error(quillan::run("model", pleth, permutations = "many"), class = "quillan_error")
  expect_error(quillan::run("model", pleth, 1), class = "quillan_usage")
  expect_error(quillan::run("model", list(x = 1)), class = "quillan_usage")
})

test_that("an interrupt stops a run", {
  # R's time limit is checked where an interrupt is, so it stands in for Ctrl-C.
  pleth <- plethodon()
  expect_error({
    setTimeLimit(elapsed = 1, transient = TRUE)
    quillan::run("model", pleth, formula = "species * site", permutations = 1e9, threads = 1)
  }, class = "quillan_cancelled")
  setTimeLimit(elapsed = Inf)
  expect_s3_class(quillan::run("model", pleth, formula = "species", permutations = 9), "quillan_result")
})
