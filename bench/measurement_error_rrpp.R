# RRPP's measurement.error on its fishy at 999 permutations, the processor
# time (user + system) of R's process, best of three; to hold against
# build/bench/quillan_bench_measurement_error on the same data.
#   Rscript bench/measurement_error_rrpp.R
suppressMessages(library(RRPP))
data(fishy)
best <- function(groups) {
  times <- replicate(3, {
    t <- system.time(measurement.error(Y = "coords", subjects = "subj", replicates = "reps",
                                       groups = if (groups) "groups" else NULL, data = fishy, iter = 999))
    t[["user.self"]] + t[["sys.self"]]
  })
  min(times)
}
cat(sprintf("measurement.error, subjects + replicates: %.3f s\n", best(FALSE)))
cat(sprintf("measurement.error, with groups:           %.3f s\n", best(TRUE)))
