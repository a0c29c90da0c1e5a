run <- function(action, data = NULL, ..., factors = NULL, permutations = 999, seed = NULL) {
  args <- list(...)
  if (is.character(factors)) args$factors <- factors
  args$perm <- permutations
  args$seed <- seed
  opts <- option_pairs(args)
  given <- if (is.null(data)) NULL else data_for_run(data, if (is.data.frame(factors)) factors)
  r <- checked(.Call(quillan_run, as.character(action), given, opts$names, opts$values))
  structure(list(action = action, report = r$report, record = r$record, table = record_table(r$record),
                 messages = r$messages, trace = r$trace), class = "quillan_result")
}

# The column names of RRPP's ANOVA tables for the record's numbers.
table_columns <- c(Df = "df", SS = "ss", MS = "ms", Rsq = "rsq", F = "F", SNR = "SNR", Z = "Z", "Pr(>F)" = "p")

# The record's table of terms, when its models are one (each with its
# degrees of freedom and sums of squares), as RRPP's anova(fit)$table.
record_table <- function(record) {
  models <- Filter(function(m) !is.null(m$values[["df"]]) && !is.null(m$values[["ss"]]), record$models)
  if (!length(models)) return(NULL)
  cols <- table_columns[vapply(table_columns, function(k) any(vapply(models, function(m) !is.null(m$values[[k]]), TRUE)), TRUE)]
  if (!("F" %in% cols) && "SNR" %in% cols) names(cols)[cols == "p"] <- "Pr(>SNR)"
  table <- as.data.frame(lapply(cols, function(k) vapply(models, function(m) {
    v <- m$values[[k]]
    if (is.null(v)) NA_real_ else as.double(v)
  }, 0)), check.names = FALSE)
  names(table) <- names(cols)
  rownames(table) <- make.unique(vapply(models, `[[`, "", "name"))
  table
}

print.quillan_result <- function(x, ...) {
  cat(x$report)
  if (length(x$messages)) cat(paste0("quillan: ", x$messages, "\n"), sep = "")
  invisible(x)
}

summary.quillan_result <- function(object, ...) {
  if (is.null(object$table)) {
    message("quillan: the run of ", object$action, " has no table of terms; its numbers are in $record")
    return(invisible(NULL))
  }
  object$table
}
