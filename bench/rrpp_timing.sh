#!/bin/sh
# Times the designs of quillan_bench_kernels in RRPP (lm.rrpp + anova, 999
# permutations, one thread) on the bundled example sets, so the two can be
# compared on the same machine:
#   bench/rrpp_timing.sh                 (prints one line per design)
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
exec Rscript "$here/rrpp_timing.R" "$data"
