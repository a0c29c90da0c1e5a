# The repository's files the tests read: the example data and the peers'
# expected numbers.  QUILLAN_SOURCE_DIR names the checkout; else it is found
# from the tests' own folder (r/quillan/tests/testthat).
repo_file <- function(...) {
  root <- Sys.getenv("QUILLAN_SOURCE_DIR")
  if (!nzchar(root)) root <- file.path(testthat::test_path(), "..", "..", "..", "..")
  path <- file.path(root, ...)
  if (!file.exists(path)) testthat::skip(paste("not in a quillan checkout:", file.path(...)))
  normalizePath(path)
}

plethodon <- function() quillan::read(repo_file("data", "plethodon.csv"))

# geomorph's table (gpagen, then procD.lm) for a case of the stored numbers.
expected_table <- function(case) {
  all <- read.csv(repo_file("tests", "expected", "models", "rrpp_tables.csv"), na.strings = "NA")
  rows <- all[all$case == case, ]
  rownames(rows) <- rows$term
  rows
}
