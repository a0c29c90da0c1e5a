# geomorph's procD.lm, spelled as geomorph spells it, over the model action:
# `f` names the coordinates on its left and the model on its right, `data`
# holds both as geomorph.data.frame does (or is a quillan::read() result),
# `iter` and `seed` are geomorph's, and SS.type its sums of squares.  The
# coordinates are the landmarks as digitised: the model superimposes them
# itself, by default as gpagen does (partial Procrustes, gpagen's steps), so
# the table is the one gpagen followed by procD.lm gives.  Any other option
# of the model goes in `...` (alignment = "full", pairwise = "species", ...).
procD <- function(f, data, iter = 999, seed = NULL, SS.type = "I", ...) {
  f <- stats::as.formula(f)
  if (length(f) != 3) stop(quillan_condition("usage", "the formula names the coordinates on its left: coords ~ species * site"))
  lhs <- paste(deparse(f[[2]]), collapse = "")
  rhs <- paste(deparse(f[[3]], width.cutoff = 500L), collapse = " ")
  coords <- if (is.list(data) && !is.null(data[[lhs]])) data[[lhs]] else eval(f[[2]], environment(f))
  given <- if (inherits(data, "quillan_data")) {
    data$coords <- coords
    data
  } else {
    c(list(coords = coords), if (is.list(data)) data[names(data) != lhs])
  }
  args <- utils::modifyList(list(alignment = "partial", gpa.steps = "gpagen"), list(...))
  args <- c(list("model", given, formula = rhs, ss.type = SS.type, permutations = iter, seed = seed), args)
  do.call(run, args)
}
