# Writes the generated parts of docs/r.md from the installed package: the
# action table (from actions()) and the worked case's table (procD on the
# bundled plethodon data).  From the top of the repository, with the package
# installed:
#   Rscript r/quillan/tools/doc-tables.R [docs/r.md]
library(quillan)
args <- commandArgs(trailingOnly = TRUE)
page <- if (length(args)) args[1] else "docs/r.md"

md_cell <- function(x) gsub("|", "\\|", gsub("\n", " ", x, fixed = TRUE), fixed = TRUE)

action_rows <- function() {
  a <- actions()
  opts <- ifelse(nzchar(a$options), paste0("`", gsub(", ", "`, `", a$options, fixed = TRUE), "`"), "")
  c("| Action | Alias | Needs | Its own options | What it does |", "|---|---|---|---|---|",
    sprintf("| %s | %s | %s | %s | %s |", a$name, ifelse(nzchar(a$alias), paste0("`", a$alias, "`"), ""),
            md_cell(a$needs), opts, md_cell(a$description)))
}

worked_rows <- function() {
  pleth <- read("data/plethodon.csv")
  fit <- procD(coords ~ species * site, data = pleth, iter = 999, seed = 1)
  c("```", utils::capture.output(print(summary(fit), digits = 7)), "```")
}

# Puts `rows` between the page's "<!-- NAME: begin -->" and "<!-- NAME: end -->".
fill <- function(lines, name, rows) {
  begin <- which(lines == sprintf("<!-- %s: begin -->", name))
  end <- which(lines == sprintf("<!-- %s: end -->", name))
  stopifnot(length(begin) == 1, length(end) == 1, begin < end)
  c(lines[seq_len(begin)], rows, lines[end:length(lines)])
}

lines <- readLines(page)
lines <- fill(lines, "actions", action_rows())
lines <- fill(lines, "worked case", worked_rows())
writeLines(lines, page)
cat("wrote", page, "\n")
