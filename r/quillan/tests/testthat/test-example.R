test_that("the plethodon example runs to its tables", {
  script <- system.file("examples", "plethodon.R", package = "quillan")
  expect_true(nzchar(script))
  out <- capture.output(source(script, local = new.env()))
  expect_true(any(grepl("species:site", out, fixed = TRUE)))
  expect_true(any(grepl("Pr(>F)", out, fixed = TRUE)))
})
