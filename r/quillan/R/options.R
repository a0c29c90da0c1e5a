# Options as the library takes them: a name as quillan-batch's command line
# spells it (without "--") and a value as text.  R users write the names with
# "." or "_" for "-" (gpa.steps, ss_type); the values are whatever R value
# reads naturally (TRUE for a flag, 999 for a count, a vector for an option
# given more than once).  Whether a value is right is the library's to say.

# Every option the library declares, by name, looked up once a session.
declared_options <- local({
  known <- NULL
  function() {
    if (is.null(known)) {
      all <- c(checked(.Call(quillan_run_options)),
               unlist(lapply(checked(.Call(quillan_actions)), `[[`, "options"), recursive = FALSE))
      known <<- all[!duplicated(vapply(all, `[[`, "", "name"))]
      names(known) <<- vapply(known, `[[`, "", "name")
    }
    known
  }
})

option_name <- function(name) gsub("[._]", "-", name)

# One value as the command line would have it typed.
option_text <- function(x) {
  if (is.factor(x)) x <- as.character(x)
  if (is.logical(x)) return(ifelse(x, "true", "false"))
  if (is.numeric(x)) {
    whole <- is.finite(x) & x == round(x) & abs(x) < 1e15
    return(ifelse(whole, formatC(x, format = "f", digits = 0), format(x, digits = 17, trim = TRUE)))
  }
  as.character(x)
}

# list(name = value, ...) -> the parallel name and value vectors the glue
# takes.  A vector goes as one entry per element when the option may be given
# more than once (factor = c("species", "site")), else as one text joined by
# commas (error = c("pop:ind", "Residuals")).
option_pairs <- function(args) {
  args <- args[!vapply(args, is.null, TRUE)]
  if (!length(args)) return(list(names = character(), values = character()))
  given <- names(args)
  if (is.null(given) || any(!nzchar(given))) {
    stop(quillan_condition("usage", "every option is given by name, as in run(\"model\", data, formula = \"species\")"))
  }
  known <- declared_options()
  nm <- character()
  val <- character()
  for (i in seq_along(args)) {
    name <- option_name(given[i])
    text <- option_text(args[[i]])
    repeated <- isTRUE(known[[name]]$repeated)
    if (length(text) > 1 && !repeated) text <- paste(text, collapse = ",")
    nm <- c(nm, rep(name, length(text)))
    val <- c(val, text)
  }
  list(names = nm, values = val)
}
