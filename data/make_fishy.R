# Writes fishy.csv from RRPP's `fishy` (data/fishy.rda in RRPP's sources):
# two digitising replicates of 60 simulated fish of three groups, eleven
# landmarks in the plane, already superimposed.  One specimen a line: its
# ID, subject, replicate and group, then x1,y1,...,x11,y11 (%.17g).
#   cd data && Rscript make_fishy.R
suppressMessages(library(RRPP))
data(fishy)
k <- ncol(fishy$coords) / 2
head <- c("ID", "subj", "reps", "groups", as.vector(rbind(paste0("x", 1:k), paste0("y", 1:k))))
id <- sprintf("F%03d", seq_len(nrow(fishy$coords)))
rows <- vapply(seq_along(id), function(i)
  paste(c(id[i], paste0("S", as.character(fishy$subj[i])), paste0("R", as.character(fishy$reps[i])),
          as.character(fishy$groups[i]), sprintf("%.17g", fishy$coords[i, ])), collapse = ","), "")
writeLines(c(paste(head, collapse = ","), rows), "fishy.csv")
