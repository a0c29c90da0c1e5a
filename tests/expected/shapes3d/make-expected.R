# Writes two real 3-D landmark sets shipped with R's shapes package as
# quillan's landmark and group files, and the numbers shapes gives for them,
# which the tests hold quillan's 3-D superimposition against:
#   ../../../data/macaques.lm.txt, macaques.groups.txt   18 macaque skulls,
#       7 landmarks (shapes' `macaques`; group 1 female, 2 male)
#   ../../../data/brains.lm.txt, brains.groups.txt       58 brains, 24
#       landmarks (shapes' `brains`; column 1 sex f/m, column 2 hand l/r),
#       brains.sex.groups.txt sex alone, brains.cov.txt the volunteers' ages
#       in years
#   full_distances.csv  set, specimen, the full Procrustes distance of each
#       specimen from the full Procrustes mean of its set (procGPA, no
#       reflection, tolerances tightened to 1e-13)
#   group_ss.csv  set, grouping, group, n, the sum of squared full Procrustes
#       distances of the group's specimens from the group's own mean; grouping
#       "all" is the whole set
# Each landmark line is x1 y1 z1 ... xk yk zk T with T the centroid size.
# Run from this folder with R and shapes installed:
#   Rscript make-expected.R
suppressMessages(library(shapes))
# Lossless and short: 15 digits where they read back to the same double.
fmt <- function(x) {
  s <- sprintf("%.15g", x)
  long <- as.numeric(s) != x
  s[long] <- sprintf("%.17g", x[long])
  s
}

write_set <- function(name, x, groups) {
  n <- dim(x)[3]
  lines <- character(n)
  for (i in 1:n) {
    cfg <- x[, , i]
    cs <- sqrt(sum(sweep(cfg, 2, colMeans(cfg))^2))
    lines[i] <- paste(c(fmt(as.vector(t(cfg))), fmt(cs)), collapse = " ")
  }
  writeLines(lines, file.path("..", "..", "..", "data", paste0(name, ".lm.txt")))
  g <- sapply(groups, as.integer)
  writeLines(apply(as.matrix(g), 1, paste, collapse = " "),
             file.path("..", "..", "..", "data", paste0(name, ".groups.txt")))
}

full_mean <- function(x) {
  procGPA(x, scale = TRUE, reflect = FALSE, tol1 = 1e-13, tol2 = 1e-13)$mshape
}
distances <- function(x) {
  m <- full_mean(x)
  sapply(1:dim(x)[3], function(i) procdist(x[, , i], m, type = "full", reflect = FALSE))
}

data(macaques)
data(brains)
sets <- list(
  macaques = list(x = macaques$x, groups = data.frame(sex = macaques$group)),
  brains = list(x = brains$x, groups = data.frame(sex = brains$sex, hand = brains$handed)))

dist_rows <- NULL
ss_rows <- NULL
for (name in names(sets)) {
  s <- sets[[name]]
  write_set(name, s$x, s$groups)
  d <- distances(s$x)
  dist_rows <- rbind(dist_rows, data.frame(set = name, specimen = seq_along(d), distance = fmt(d)))
  ss_rows <- rbind(ss_rows, data.frame(set = name, grouping = "all", group = 0, n = length(d), ss = fmt(sum(d^2))))
  for (col in names(s$groups)) {
    codes <- as.integer(s$groups[[col]])
    for (g in sort(unique(codes))) {
      sub <- s$x[, , codes == g, drop = FALSE]
      ss_rows <- rbind(ss_rows, data.frame(set = name, grouping = col, group = g, n = dim(sub)[3],
                                           ss = fmt(sum(distances(sub)^2))))
    }
  }
}
writeLines(as.character(as.integer(brains$sex)), file.path("..", "..", "..", "data", "brains.sex.groups.txt"))
writeLines(fmt(brains$age), file.path("..", "..", "..", "data", "brains.cov.txt"))
write.csv(dist_rows, "full_distances.csv", row.names = FALSE, quote = FALSE)
write.csv(ss_rows, "group_ss.csv", row.names = FALSE, quote = FALSE)
