test_that("every action of the table is reached through the library, by its own function", {
  table <- quillan::actions()
  expect_true(all(c("name", "alias", "kind", "needs", "options", "description") %in% names(table)))
  expect_true("formula" %in% quillan::actions("model")$name)
  expect_true("perm" %in% quillan::run_options()$name)
  keys <- gsub("-", "_", ifelse(nzchar(table$alias), table$alias, table$name), fixed = TRUE)
  expect_setequal(ls(quillan::act), keys)
  pleth <- plethodon()
  old <- setwd(tempdir())
  on.exit(setwd(old))
  outcomes <- character()
  for (i in seq_len(nrow(table))) {
    # The saves and exports write where they are told.
    out <- if (table$kind[i] %in% c("save", "export")) list(out = tempfile(fileext = ".txt"))
    args <- c(list(pleth, factor = c("species", "site"), covariate.column = "logCS",
                   permutations = 9, seed = 1), out)
    # Run, or turned down by the action itself: what it refuses, and the
    # actions only the window offers.
    outcomes[table$name[i]] <- tryCatch({
      r <- do.call(quillan::act[[keys[i]]], args)
      if (inherits(r, "quillan_result") && (is.null(out) || file.exists(out$out))) "ran" else "nothing written"
    }, quillan_refused = function(e) "refused",
       quillan_usage = function(e) if (grepl("window action", conditionMessage(e))) "window" else conditionMessage(e))
  }
  expect_true(all(outcomes %in% c("ran", "refused", "window")), label = paste(names(outcomes), outcomes, collapse = "; "))
  expect_equal(unname(outcomes[c("RunModel", "RunTwoWay", "SaveOut", "ExportSpecimens")]), rep("ran", 4))
})
