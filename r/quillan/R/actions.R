# The library's action table, as a data frame: one row an action, with the
# names of its own options.  Given an action's name (or alias), its options
# instead, with their kinds, defaults, choices and help.
actions <- function(action = NULL) {
  all <- checked(.Call(quillan_actions))
  if (is.null(action)) {
    return(data.frame(
      name = vapply(all, `[[`, "", "name"), alias = vapply(all, `[[`, "", "alias"),
      kind = vapply(all, `[[`, "", "kind"), needs = vapply(all, `[[`, "", "needs"),
      options = vapply(all, function(a) paste(vapply(a$options, `[[`, "", "name"), collapse = ", "), ""),
      description = vapply(all, `[[`, "", "description"), stringsAsFactors = FALSE))
  }
  hit <- Filter(function(a) action %in% c(a$name, a$alias), all)
  if (!length(hit)) stop(quillan_condition("usage", paste0("no action named ", action, ": see quillan::actions()")))
  options_frame(hit[[1]]$options)
}

options_frame <- function(options) {
  data.frame(
    name = vapply(options, `[[`, "", "name"), kind = vapply(options, `[[`, "", "kind"),
    default = vapply(options, `[[`, "", "fallback"),
    choices = vapply(options, function(o) paste(o$choices, collapse = "|"), ""),
    repeated = vapply(options, `[[`, TRUE, "repeated"), help = vapply(options, `[[`, "", "help"),
    stringsAsFactors = FALSE)
}

# The options every run takes besides an action's own (the files to read,
# perm, seed, threads, the import's choices, the exports).
run_options <- function() options_frame(checked(.Call(quillan_run_options)))
