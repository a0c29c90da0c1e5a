#!/bin/sh
# quillan-batch-mpi under mpirun: a seeded report is byte for byte that of
# quillan-batch on 1, 2 and 3 processes; an unseeded run's processes share
# the first process's seed; a file that only one process cannot read ends
# the whole run with that process's message, writing nothing, never hanging.
#   mpi_runs.sh QUILLAN_BATCH QUILLAN_BATCH_MPI MPIEXEC DATA_DIR
set -u
batch=$1 mpi=$2 mpiexec=$3 data=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "mpi runs: $*" >&2; failures=$((failures + 1)); }
# Each run has a time limit, so a process left waiting fails the test
# instead of hanging it.
run() { np=$1; shift; timeout 120 "$mpiexec" --oversubscribe -np "$np" "$@"; }

lm=$data/larvalHead.lm.txt gl=$data/larvalMorph.groups.txt
pl=$data/plethodon.lm.txt pg=$data/plethodon.groups.txt pc=$data/plethodon.cov.txt

# Seeded runs: the same bytes on standard output (the report) and, for the
# actions whose result is the console trace, on standard error.
# same_on NAME "PROCESS COUNTS" ACTION OPTIONS...
same_on() {
  name=$1 counts=$2; shift 2
  "$batch" "$@" >"$work/one.out" 2>"$work/one.err" || fail "$name: quillan-batch failed"
  for np in $counts; do
    run "$np" "$mpi" "$@" >"$work/many.out" 2>"$work/many.err" || fail "$name: $np processes failed: $(cat "$work/many.err")"
    cmp -s "$work/one.out" "$work/many.out" || fail "$name: the report on $np processes differs"
    # What the MPI runtime itself says (hwloc on a machine without /sys,
    # Open MPI's "[host:pid]" notes) is not the program's.
    grep -v -e '^\[hwloc/' -e '^\[[^] ]*:[0-9]*\]' "$work/many.err" >"$work/many.own.err"
    cmp -s "$work/one.err" "$work/many.own.err" ||
      fail "$name: standard error on $np processes differs: $(diff "$work/one.err" "$work/many.own.err" | head -n 6)"
  done
}
# (Every start of mpirun costs a moment, several seconds on some machines,
# so the other actions run on one uneven split only.)
same_on two-way "1 2 3" RunTwoWay -l "$lm" -g "$gl" -p 199 -s 11 -t 2
same_on nested "2" RunTwoWayNest -l "$lm" -g "$gl" -p 99 -s 12
# Several permutation loops in one action, each with its own streams.
same_on test-covariate "3" TestCovariate -l "$pl" -g "$pg" -c "$pc" -p 49 -s 13
# Every permutation's statistic kept and sorted.
same_on diagnostic "3" GoMan -l "$pl" -g "$pg" -s 14

# Without a seed the first process draws one for all: rerunning alone with
# the seed it recorded gives the same report.
run 3 "$mpi" RunTwoWay -l "$lm" -g "$gl" -p 199 --json "$work/run.json" >"$work/unseeded.out" 2>"$work/err" \
  || fail "unseeded: $(cat "$work/err")"
seed=$(tr -d ' \n' <"$work/run.json" | sed -n 's/.*"seeds":\[\([0-9]*\)\].*/\1/p')
tr -d ' \n' <"$work/run.json" | grep -q '"processes":3' || fail "unseeded: the JSON record does not say 3 processes"
if [ -z "$seed" ]; then
  fail "unseeded: no seed in the JSON record"
else
  "$batch" RunTwoWay -l "$lm" -g "$gl" -p 199 -s "$seed" >"$work/reseeded.out" 2>/dev/null
  cmp -s "$work/unseeded.out" "$work/reseeded.out" || fail "unseeded: the processes did not share one seed"
fi

# The histograms (every permutation's statistics) are drawn from all the
# processes' permutations.
if "$batch" RunTwoWay -l "$pl" -g "$pg" -p 99 -s 15 --plots "$work/p1" >/dev/null 2>&1; then
  run 2 "$mpi" RunTwoWay -l "$pl" -g "$pg" -p 99 -s 15 --plots "$work/p2" >/dev/null 2>"$work/err" || fail "plots: $(cat "$work/err")"
  for f in "$work"/p1/permutations-*.svg; do
    [ -e "$f" ] || { fail "plots: no distribution picture"; break; }
    cmp -s "$f" "$work/p2/${f##*/}" || fail "plots: ${f##*/} differs on 2 processes"
  done
fi

# One process cannot read the landmark file (as a node without the shared
# folder would): the run ends at once with that process's message, once,
# with the failure's status, and writes nothing.
cat >"$work/one_bad.sh" <<SH
#!/bin/sh
rank=\${OMPI_COMM_WORLD_RANK:-\${PMI_RANK:-0}}
file=$pl
[ "\$rank" = "\$1" ] && file=\$2
exec "$mpi" RunTwoWay -l "\$file" -g "$pg" -p 999999 -s 1 --out "$work/report.txt" --json "$work/bad.json"
SH
for bad in 2 0; do
  run 3 sh "$work/one_bad.sh" "$bad" "$work/absent.lm.txt" >"$work/bad.out" 2>"$work/bad.err"
  rc=$?
  [ "$rc" = 1 ] || fail "process $bad failing: exit status $rc, not 1"
  n=$(grep -c "absent.lm.txt" "$work/bad.err")
  [ "$n" = 1 ] || fail "process $bad failing: its message $n times: $(cat "$work/bad.err")"
  if [ "$bad" != 0 ]; then
    grep -q "^quillan-batch-mpi: process $bad of 3: .*absent.lm.txt" "$work/bad.err" || fail "process $bad failing: not named: $(cat "$work/bad.err")"
  fi
  [ -e "$work/report.txt" ] && fail "process $bad failing: the report was written"
  [ -e "$work/bad.json" ] && fail "process $bad failing: the JSON was written"
done
# One process reads an older copy of the landmarks (one number differs):
# nothing is run or written, and the first process says why, once.
sed '1s/^\([0-9.-]*\) /\11 /' "$pl" >"$work/older.lm.txt"
run 3 sh "$work/one_bad.sh" 2 "$work/older.lm.txt" >"$work/bad.out" 2>"$work/bad.err"
rc=$?
[ "$rc" = 1 ] || fail "different data: exit status $rc, not 1"
n=$(grep -c "did not read the same data" "$work/bad.err")
[ "$n" = 1 ] || fail "different data: the message $n times: $(cat "$work/bad.err")"
[ -e "$work/report.txt" ] && fail "different data: the report was written"

# Every process fails alike: the message is said once.
run 3 "$mpi" RunTwoWay -l "$work/absent.lm.txt" -g "$pg" -p 9 >/dev/null 2>"$work/bad.err"
n=$(grep -c "absent.lm.txt" "$work/bad.err")
[ "$n" = 1 ] || fail "every process failing: the message $n times"

[ "$failures" = 0 ] && echo "mpi runs: all agree"
exit "$((failures != 0))"
