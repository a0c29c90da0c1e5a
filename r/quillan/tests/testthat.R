library(testthat)
library(quillan)
test_check("quillan")
