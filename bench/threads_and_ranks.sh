#!/bin/sh
# Speed-up of the permutations over worker threads and over MPI processes.
#
#   bench/threads_and_ranks.sh [BUILD_DIR] [PERMUTATIONS] [REPEATS]
#
# Runs RunTwoWay on larvalHead (114 specimens, 9 x 10 cells) with
# quillan-batch on 1 and 2 threads and with quillan-batch-mpi under mpirun on
# 1, 2 (and, with more cores, as many as there are) processes of one thread
# each.  Each figure is the best of REPEATS wall-clock times.  The start-up
# (reading the files, and for MPI its own start, about half a second) is
# timed with one permutation and taken off, so the speed-ups compare the
# permutation part; the whole-run times are shown too.
set -eu
build=${1:-build}
perms=${2:-99999}
repeats=${3:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
lm=$here/data/larvalHead.lm.txt gl=$here/data/larvalMorph.groups.txt
batch=$build/quillan-batch mpi=$build/quillan-batch-mpi
[ -x "$batch" ] || { echo "no $batch: build first" >&2; exit 1; }
cores=$(nproc)

now() { date +%s.%N; }
# Best wall time of a command, in seconds.
best() {
  b=""
  i=0
  while [ "$i" -lt "$repeats" ]; do
    t0=$(now)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    t=$(awk -v a="$(now)" -v b="$t0" 'BEGIN { print a - b }')
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
    i=$((i + 1))
  done
  echo "$b"
}
args="RunTwoWay -l $lm -g $gl -s 1"
row() {  # label, whole time, start-up time, one-thread permutation time
  awk -v label="$1" -v whole="$2" -v start="$3" -v base="$4" -v perms="$perms" 'BEGIN {
    part = whole - start
    printf "| %-28s | %8.2f | %8.2f | %7.0f | %8.2f |\n", label, whole, part, part * 1e6 / perms, base / part }'
}

echo "RunTwoWay, larvalHead, $perms permutations, best of $repeats; $cores cores: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo
echo "| run                          |  whole s |  perms s | µs/perm | speed-up |"
echo "|------------------------------|----------|----------|---------|----------|"
start=$(best "$batch" $args -p 1 -t 1)
one=$(best "$batch" $args -p "$perms" -t 1)
base=$(awk -v a="$one" -v b="$start" 'BEGIN { print a - b }')
row "quillan-batch, 1 thread" "$one" "$start" "$base"
t=2
while [ "$t" -le "$cores" ] || [ "$t" = 2 ]; do
  row "quillan-batch, $t threads" "$(best "$batch" $args -p "$perms" -t "$t")" "$start" "$base"
  t=$((t * 2))
done
if [ -x "$mpi" ] && command -v mpirun >/dev/null 2>&1; then
  # Open MPI runs as root only when told twice.
  export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
  n=1
  while [ "$n" -le "$cores" ] || [ "$n" = 2 ]; do
    ms=$(best mpirun --oversubscribe -np "$n" "$mpi" $args -p 1 -t 1)
    row "mpirun -np $n, 1 thread each" "$(best mpirun --oversubscribe -np "$n" "$mpi" $args -p "$perms" -t 1)" "$ms" "$base"
    n=$((n * 2))
  done
else
  echo "(quillan-batch-mpi or mpirun not found: no MPI figures)"
fi
