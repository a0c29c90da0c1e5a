#!/bin/sh
# Speed-up of the permutations over worker threads and over MPI processes.
#
#   bench/threads_and_ranks.sh [BUILD_DIR] [PERMUTATIONS] [ROUNDS]
#
# Runs RunTwoWay on larvalHead (114 specimens, 6 x 4 groups) with
# quillan-batch on 1 and 2 threads and with quillan-batch-mpi under mpirun on
# 1 and 2 processes of one thread each (and more of both on a machine with
# more cores).  The runs take turns, ROUNDS times, and each figure is the
# best of its wall-clock times, so a busy spell of the machine falls on all
# of them alike.  The start-up (reading the files and, for MPI, its own
# start of about half a second) is timed with one permutation and taken
# off, so the speed-ups compare the permutation part; the whole-run times
# are shown too, and the processor time of the whole run (all processes,
# best of the rounds), which a busy machine disturbs less than the wall time.
set -eu
build=${1:-build}
perms=${2:-99999}
rounds=${3:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
lm=$here/data/larvalHead.lm.txt gl=$here/data/larvalMorph.groups.txt
batch=$build/quillan-batch mpi=$build/quillan-batch-mpi
[ -x "$batch" ] || { echo "no $batch: build first" >&2; exit 1; }
cores=$(nproc)
with_mpi=0
if [ -x "$mpi" ] && command -v mpirun >/dev/null 2>&1; then
  with_mpi=1
  # Open MPI runs as root only when told twice.
  export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
fi

# The runs: "name|command" (the permutation count is added).
args="RunTwoWay -l $lm -g $gl -s 1 -t"
runs="start|$batch $args 1 -p 1"
n=1
while [ "$n" -le "$cores" ] || [ "$n" -le 2 ]; do
  runs="$runs
t$n|$batch $args $n -p $perms"
  if [ "$with_mpi" = 1 ]; then
    runs="$runs
mpistart$n|mpirun --oversubscribe -np $n $mpi $args 1 -p 1
np$n|mpirun --oversubscribe -np $n $mpi $args 1 -p $perms"
  fi
  n=$((n * 2))
done

times=$(mktemp) cpu=$(mktemp)
trap 'rm -f "$times" "$cpu"' EXIT
# The processor time of each run (all its processes), where GNU time is installed.
gnu_time=$(command -v /usr/bin/time || true)
round=0
while [ "$round" -lt "$rounds" ]; do
  echo "$runs" | while IFS='|' read -r name command; do
    t0=$(date +%s.%N)
    if [ -n "$gnu_time" ]; then
      "$gnu_time" -f "%U %S" -o "$cpu" $command </dev/null >/dev/null 2>&1 || { echo "failed: $command" >&2; exit 1; }
    else
      echo "0 0" >"$cpu"
      $command </dev/null >/dev/null 2>&1 || { echo "failed: $command" >&2; exit 1; }
    fi
    echo "$name $(awk -v a="$(date +%s.%N)" -v b="$t0" 'BEGIN { print a - b }') $(awk '{ print $1 + $2 }' "$cpu")" >>"$times"
  done
  round=$((round + 1))
done

echo "RunTwoWay, larvalHead, $perms permutations, best of $rounds; $cores cores:$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
echo
awk -v perms="$perms" '
  { if (!($1 in best) || $2 < best[$1]) best[$1] = $2
    if (!($1 in cpu) || $3 < cpu[$1]) cpu[$1] = $3 }
  function row(label, run, start) {
    part = best[run] - best[start]
    printf "| %-28s | %7.2f | %7.2f | %7.0f | %8.2f | %6.2f |\n", label, best[run], part, part * 1e6 / perms, base / part, cpu[run]
  }
  END {
    print "| run                          | whole s | perms s | µs/perm | speed-up |  cpu s |"
    print "|------------------------------|---------|---------|---------|----------|--------|"
    base = best["t1"] - best["start"]
    for (n = 1; ("t" n) in best; n *= 2) row("quillan-batch, " n " thread" (n > 1 ? "s" : ""), "t" n, "start")
    for (n = 1; ("np" n) in best; n *= 2) row("mpirun -np " n ", 1 thread each", "np" n, "mpistart" n)
  }' "$times"
[ "$with_mpi" = 1 ] || echo "(quillan-batch-mpi or mpirun not found: no MPI figures)"
