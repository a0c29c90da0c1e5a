#!/bin/sh
# Times the designs of quillan_bench_kernels in RRPP (lm.rrpp + anova, 999
# permutations, one thread) on the bundled example sets, so the two can be
# compared on the same machine:
#   bench/rrpp_timing.sh                 (prints one line per design)
#
# It then times quillan-batch's linear model of the same two-factor design
# (action model, Y ~ G1 * G2, RRPP residual randomization, one thread) and
# prints its time per permutation beside RRPP's and their ratio: the wall
# time of 20,000 permutations less that of 1,000, so loading and the
# superimposition are left out.  QUILLAN_BATCH names the program
# (build/quillan-batch by default).
#
# Where the models benchmark is built (build/bench/quillan_bench_models, or
# QUILLAN_BENCH_MODELS), the generated studies of 2,000 specimens x 40
# landmarks are timed too: `G1 * G2` (factors of 4 and 3 levels) and
# `cov * G1` (a covariate by a 4-level factor), RRPP at 199 permutations,
# quillan-batch at 2,100 less 100.
#
# RRPP is not in Debian.  To install it from its public source:
#   apt-get install r-base-core r-cran-ape r-cran-ggplot2 r-cran-matrix r-cran-lme4
#   git clone https://github.com/mlcollyer/RRPP
#   # its DESCRIPTION asks for R 4.4; it installs and runs on Debian's R 4.2:
#   sed -i 's/R (>= 4\.4[^)]*)/R (>= 4.2)/' RRPP/DESCRIPTION
#   R CMD INSTALL RRPP
# Without R or without RRPP this script says so and exits 0.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
data=${QUILLAN_DATA_DIR:-$here/../data}
if ! command -v Rscript >/dev/null 2>&1; then
  echo "rrpp_timing: R is not installed (Rscript not found); skipped. See the top of $0 to install R and RRPP."
  exit 0
fi
if ! Rscript -e 'quit(status = !requireNamespace("RRPP", quietly = TRUE))' >/dev/null 2>&1; then
  echo "rrpp_timing: the R package RRPP is not installed; skipped. See the top of $0 to install it."
  exit 0
fi
batch=${QUILLAN_BATCH:-$here/../build/quillan-batch}
# The generated studies, written by the models benchmark when it is built.
studies=""
writer=${QUILLAN_BENCH_MODELS:-$(dirname "$batch")/bench/quillan_bench_models}
if [ -x "$writer" ]; then
  studies=$(mktemp -d)
  trap 'rm -rf "$studies"' EXIT
  "$writer" --write "$studies" >/dev/null
fi
rrpp=$(Rscript "$here/rrpp_timing.R" "$data" "$studies") || exit 1
echo "$rrpp"
if [ ! -x "$batch" ]; then
  echo "rrpp_timing: $batch not found; the linear-model comparison is skipped (set QUILLAN_BATCH)."
  exit 0
fi
# Wall seconds of one model run of N permutations on one thread: set,
# groups, N, and optionally the folder and the formula.
run_model() {
  from=${4:-$data}
  cov=""
  [ -f "$from/$1.cov.txt" ] && cov="$from/$1.cov.txt"
  start=$(date +%s.%N)
  "$batch" model -l "$from/$1.lm.txt" -g "$from/$2.groups.txt" ${cov:+-c "$cov"} --formula "${5:-G1 * G2}" -p "$3" -s 1 -t 1 \
    >/dev/null || exit 1
  end=$(date +%s.%N)
  echo "$start $end" | awk '{ printf "%.6f", $2 - $1 }'
}
echo
echo "Linear model Y ~ G1 * G2 (type I, RRPP), one thread: microseconds per permutation"
printf '%-12s %12s %12s %8s\n' data RRPP quillan ratio
for pair in plethodon:plethodon mosquito:mosquito larvalHead:larvalMorph pupfish:pupfish; do
  set=${pair%%:*}
  groups=${pair#*:}
  small=$(run_model "$set" "$groups" 1000)
  large=$(run_model "$set" "$groups" 20000)
  ours=$(echo "$small $large" | awk '{ printf "%.2f", ($2 - $1) * 1e6 / 19000 }')
  theirs=$(echo "$rrpp" | awk -v k="$set/RunTwoWay" '$1 == k { print $5 }')
  echo "$set $theirs $ours" | awk '{ printf "%-12s %12.1f %12.2f %7.0fx\n", $1, $2, $3, $2 / $3 }'
done
[ -n "$studies" ] || exit 0
for study in "crossed:G1 * G2:crossed/G1*G2" "slopes:cov * G1:slopes/cov*G1"; do
  set=${study%%:*}
  rest=${study#*:}
  formula=${rest%%:*}
  small=$(run_model "$set" "$set" 100 "$studies" "$formula")
  large=$(run_model "$set" "$set" 2100 "$studies" "$formula")
  ours=$(echo "$small $large" | awk '{ printf "%.2f", ($2 - $1) * 1e6 / 2000 }')
  theirs=$(echo "$rrpp" | awk -v k="${rest#*:}" '$1 == k { print $5 }')
  echo "$set $theirs $ours" | awk '{ printf "%-12s %12.1f %12.2f %7.0fx\n", $1, $2, $3, $2 / $3 }'
done
