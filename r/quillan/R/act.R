# A function per action of the library's table, made when the package loads:
# act$one_way(data, ...) is run("one-way", data, ...), named by the action's
# alias with "_" for "-" (or by its name when it has none).  An environment,
# so that the table's names never mask base R's (load, save).
act <- new.env(parent = emptyenv())

action_function <- function(action) {
  force(action)
  function(data = NULL, ..., factors = NULL, permutations = 999, seed = NULL) {
    run(action, data, ..., factors = factors, permutations = permutations, seed = seed)
  }
}

.onLoad <- function(libname, pkgname) {
  table <- tryCatch(checked(.Call(quillan_actions)), error = function(e) list())
  for (a in table) {
    key <- gsub("-", "_", if (nzchar(a$alias)) a$alias else a$name, fixed = TRUE)
    assign(key, action_function(a$name), envir = act)
  }
}
