test_that("a headed table reads as geomorph's arrays, its words as factors", {
  pleth <- plethodon()
  expect_s3_class(pleth, "quillan_data")
  expect_equal(dim(pleth$coords), c(12, 2, 40))
  expect_equal(pleth$ids[1:2], c("P01", "P02"))
  expect_equal(dimnames(pleth$coords)[[3]], pleth$ids)
  expect_equal(levels(pleth$factors$species), c("Jord", "Teyah"))
  expect_equal(levels(pleth$factors$site), c("Allo", "Symp"))
  expect_type(pleth$factors$logCS, "double")
  # Landmark by row, x then y by column, one slice a specimen: the plain
  # file's row i is x1 y1 x2 y2 ... of specimen i.
  plain <- as.matrix(read.table(repo_file("data", "plethodon.lm.txt")))
  expect_equal(as.vector(t(pleth$coords[, , 3])), unname(plain[3, 1:24]))
})

test_that("an unreadable file is an error naming it", {
  missing <- file.path(tempdir(), "no-such-file.tps")
  err <- expect_error(quillan::read(missing), class = "quillan_error")
  expect_match(conditionMessage(err), "no-such-file.tps", fixed = TRUE)
})

test_that("what an import warns of is an R warning kept with the data", {
  twice <- tempfile(fileext = ".tps")
  writeLines(c("LM=3", "0 0", "1 0", "1 1", "ID=A", "LM=3", "0 0", "1 0", "2 1", "ID=A",
               "LM=3", "0 0", "1 0", "0.5 2", "ID=B"), twice)
  expect_warning(d <- quillan::read(twice), "appears 2 times")
  expect_equal(dim(d$coords), c(3L, 2L, 3L))
  expect_match(d$warnings, "appears 2 times", all = FALSE)
})
