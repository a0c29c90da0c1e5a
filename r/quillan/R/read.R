read <- function(path, ...) {
  path <- path.expand(as.character(path))
  opts <- option_pairs(list(...))
  d <- checked(.Call(quillan_read, path, opts$names, opts$values))
  # What the import said stays with the data, and its warnings are R's.
  for (w in d$warnings) warning(w, call. = FALSE)
  out <- as_quillan_data(d)
  out$warnings <- d$warnings
  out$notices <- d$notices
  out
}

# The library's data as R users of geomorph hold it: coords a p x k x n array
# named by specimen, the file's other columns a data frame (words as
# factors, their levels in the order the library sorts them: by characters,
# not by the locale).
as_quillan_data <- function(d) {
  coords <- d$coords
  if (length(d$ids)) dimnames(coords) <- list(NULL, NULL, d$ids)
  columns <- lapply(d$columns, function(x) {
    if (is.character(x)) factor(x, levels = sort(unique(x[nzchar(x)]), method = "radix")) else x
  })
  factors <- data.frame(columns, check.names = FALSE, stringsAsFactors = FALSE)
  if (!length(columns)) factors <- data.frame(row.names = seq_len(dim(coords)[3]))
  if (length(d$ids)) rownames(factors) <- make.unique(d$ids)
  structure(list(coords = coords, ids = d$ids, factors = factors, source = d$source), class = "quillan_data")
}

print.quillan_data <- function(x, ...) {
  dims <- dim(x$coords)
  cat(sprintf("quillan data: %d specimens, %d landmarks in %d dimensions%s\n", dims[3], dims[1], dims[2],
              if (nzchar(x$source)) paste0(", from ", x$source) else ""))
  if (ncol(x$factors)) cat("columns:", paste(names(x$factors), collapse = ", "), "\n")
  invisible(x)
}

# Landmark data for a run: a quillan_data, a list holding coords (and, as
# geomorph.data.frame holds them, factors and covariates one value a
# specimen), or a bare p x k x n array; `factors` a data frame adds columns.
data_for_run <- function(data, factors = NULL) {
  if (is.array(data) && length(dim(data)) == 3) data <- list(coords = data)
  if (!is.list(data) || is.null(data$coords)) {
    stop(quillan_condition("usage", "data is a quillan::read() result, a list with coords, or a p x k x n array"))
  }
  coords <- data$coords
  dims <- dim(coords)
  if (length(dims) != 3) stop(quillan_condition("usage", "coords is a p x k x n array (landmarks x dimensions x specimens)"))
  ids <- data$ids
  if (is.null(ids)) ids <- dimnames(coords)[[3]]
  columns <- if (inherits(data, "quillan_data")) as.list(data$factors) else per_specimen(data[names(data) != "coords"], dims[3])
  if (is.data.frame(factors)) columns <- c(columns, as.list(factors))
  columns <- lapply(columns, function(x) {
    if (is.numeric(x)) return(as.double(x))
    x <- as.character(x)
    x[is.na(x)] <- ""
    x
  })
  list(coords = array(as.double(coords), dims), ids = as.character(ids), columns = columns,
       source = if (is.null(data$source)) "" else as.character(data$source))
}

# The elements of a geomorph-style data list that hold one value a specimen.
per_specimen <- function(items, n) {
  items[vapply(items, function(x) is.atomic(x) && is.null(dim(x)) && length(x) == n, TRUE)]
}
