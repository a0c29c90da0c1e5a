# Expected numbers of the bilateral symmetry analysis, from geomorph's
# bilat.symmetry on its own mosquito (matching symmetry: left and right
# wings, two replicates) and lizards (object symmetry: the whole head with
# its landmark pairs, two replicates) sets.  Writes the data as tables the
# program imports, and the deterministic numbers (Df, SS, MS, Rsq, F of the
# shape and size tables, each individual's asymmetry) as CSV.
#
#   Rscript tests/expected/symmetry/make_expected.R
suppressMessages(library(geomorph))
options(rgl.useNULL = TRUE)
out <- "tests/expected/symmetry"

write_table <- function(A, extra, file) {
  p <- dim(A)[1]; k <- dim(A)[2]; n <- dim(A)[3]
  xy <- t(apply(A, 3, function(m) as.vector(t(m))))
  colnames(xy) <- as.vector(t(outer(seq_len(p), c("x", "y")[1:k], function(i, a) paste0(a, i))))
  d <- data.frame(ID = sprintf("S%03d", seq_len(n)), extra, xy, check.names = FALSE)
  write.csv(d, file.path(out, file), row.names = FALSE, quote = FALSE)
}

table_rows <- function(tab, what) {
  data.frame(table = what, term = rownames(tab), Df = tab$Df, SS = tab$SS, MS = tab$MS, Rsq = tab$Rsq, F = tab$F)
}

# Each individual's asymmetry: the Procrustes distance between the means of
# its two sides (0 for a symmetric individual).
asymmetry <- function(coords, ind, side) {
  Y <- two.d.array(coords)
  sapply(levels(ind), function(i) {
    a <- colMeans(Y[ind == i & side == levels(side)[1], , drop = FALSE])
    b <- colMeans(Y[ind == i & side == levels(side)[2], , drop = FALSE])
    sqrt(sum((a - b)^2))
  })
}

data(mosquito)
ind <- factor(mosquito$ind, levels = unique(mosquito$ind)); side <- factor(mosquito$side)
rep <- factor(mosquito$replicate)
write_table(mosquito$wingshape, data.frame(ind = paste0("i", ind), side = paste0("s", side), rep = paste0("r", rep)),
            "mosquito.csv")
m <- bilat.symmetry(mosquito$wingshape, ind = ind, side = side, replicate = rep, object.sym = FALSE, iter = 9,
                    print.progress = FALSE)
size <- anova(m$procD.lm.size, error = c("ind:side", "ind:side", "Residuals"), print.progress = FALSE)$table
rownames(size)[1:4] <- rownames(m$shape.anova)[1:4]
gpa <- gpagen(mosquito$wingshape, print.progress = FALSE)
rows <- rbind(table_rows(m$shape.anova, "matching shape"), table_rows(size, "matching size"))
ai <- data.frame(set = "mosquito", individual = paste0("i", levels(ind)),
                 asymmetry = asymmetry(gpa$coords, ind, side))

data(lizards)
lind <- factor(lizards$ind, levels = unique(lizards$ind)); lrep <- factor(lizards$rep)
write_table(lizards$coords, data.frame(ind = paste0("i", lind), rep = paste0("r", lrep)), "lizards.csv")
write.table(lizards$lm.pairs, file.path(out, "lizards.pairs.txt"), row.names = FALSE, col.names = FALSE)
l <- bilat.symmetry(lizards$coords, ind = lind, replicate = lrep, object.sym = TRUE, land.pairs = lizards$lm.pairs,
                    iter = 9, print.progress = FALSE)
rows <- rbind(rows, table_rows(l$shape.anova, "object shape"))
# The reflections' coordinates as bilat.symmetry superimposes them: each
# individual's asymmetry is between its configurations and their reflections.
A <- gpagen(lizards$coords, print.progress = FALSE)$coords
A2 <- A
A2[lizards$lm.pairs[, 1], , ] <- A[lizards$lm.pairs[, 2], , ]
A2[lizards$lm.pairs[, 2], , ] <- A[lizards$lm.pairs[, 1], , ]
A2[, 1, ] <- -A2[, 1, ]
both <- gpagen(array(c(A, A2), c(dim(A)[1:2], 2 * dim(A)[3])), print.progress = FALSE)$coords
ai <- rbind(ai, data.frame(set = "lizards", individual = paste0("i", levels(lind)),
                           asymmetry = asymmetry(both, factor(rep(lind, 2), levels = levels(lind)), gl(2, dim(A)[3]))))
write.csv(rows, file.path(out, "tables.csv"), row.names = FALSE, quote = FALSE)
write.csv(ai, file.path(out, "asymmetry.csv"), row.names = FALSE, quote = FALSE)

# Each individual's symmetric and asymmetric components, as bilat.symmetry
# gives them (symm.shape, asymm.shape): one row a coordinate, numbered in
# the order x1, y1, x2, ...
components <- function(fit, set) {
  rows <- function(A, what) {
    v <- apply(A, 3, function(m) as.vector(t(m)))
    data.frame(set = set, component = what, individual = rep(paste0("i", dimnames(A)[[3]]), each = nrow(v)),
               coordinate = rep(seq_len(nrow(v)), ncol(v)), value = as.vector(v))
  }
  rbind(rows(fit$symm.shape, "symmetric"), rows(fit$asymm.shape, "asymmetric"))
}
write.csv(rbind(components(m, "mosquito"), components(l, "lizards")), file.path(out, "components.csv"),
          row.names = FALSE, quote = FALSE)
