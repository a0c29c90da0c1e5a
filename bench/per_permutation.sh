#!/bin/bash
# Time per permutation of the one- and two-factor tests on the four bundled
# sets, on every kernel this processor has, for one build or two side by side
# (to compare a change with the code before it).
#
#   bench/per_permutation.sh BUILD_DIR [OTHER_BUILD_DIR] [ROUNDS]
#
# Each figure is (median of the runs at HI permutations - median of the runs
# at LO) / (HI - LO), in microseconds of processor time (user + system, which
# a busy neighbour on a shared machine disturbs less than wall time): the
# start-up and the observed fit drop out.  The builds' runs alternate, so a busy spell of a shared machine falls
# on both alike; ROUNDS (5 by default) runs of each.  One thread, seed 1.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
a=$1
b=${2:-}
rounds=${3:-5}
HI=${HI:-10999}
LO=${LO:-999}
data=$here/data
for d in "$a" ${b:+"$b"}; do
  [ -x "$d/quillan-batch" ] || { echo "no $d/quillan-batch: build first" >&2; exit 1; }
done

grep -m1 'model name' /proc/cpuinfo
printf 'family %s, model %s\n' "$(grep -m1 'cpu family' /proc/cpuinfo | cut -d: -f2 | tr -d ' ')" \
  "$(grep -m1 '^model[^ ]*:' /proc/cpuinfo | cut -d: -f2 | tr -d ' ')"

# Wall microseconds of one run.
run_us() {
  local TIMEFORMAT='%U %S' t
  t=$({ time env QUILLAN_KERNEL="$1" "$2/quillan-batch" "$3" -t 1 -s 1 -p "$4" -l "$5" -g "$6" >/dev/null 2>&1; } 2>&1)
  echo "$t" | awk '{printf "%.0f\n", 1e6 * ($1 + $2)}'
}

median() { sort -n | awk '{t[NR]=$1} END {print (t[int((NR+1)/2)]+t[int(NR/2)+1])/2}'; }

kernels=baseline
grep -qw avx2 /proc/cpuinfo && kernels="$kernels avx2"
grep -qw avx512f /proc/cpuinfo && kernels="$kernels avx512"

echo "A: $a${b:+, B: $b (ratio B / A)}"
printf '%-10s %-8s %-8s %10s' set action kernel "A us"
[ -n "$b" ] && printf ' %10s %7s' "B us" ratio
echo
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for set in "plethodon plethodon.lm.txt plethodon.species.groups.txt plethodon.groups.txt" \
           "mosquito mosquito.lm.txt mosquito.ind.groups.txt mosquito.groups.txt" \
           "larvalHead larvalHead.lm.txt larvalMorph.treatment.groups.txt larvalMorph.groups.txt" \
           "pupfish pupfish.lm.txt pupfish.sex.groups.txt pupfish.groups.txt"; do
  set -- $set
  name=$1 lm=$data/$2
  for action in one-way two-way; do
    if [ "$action" = one-way ]; then groups=$data/$3; else groups=$data/$4; fi
    for k in $kernels; do
      rm -f "$tmp"/*
      i=0
      while [ $i -lt "$rounds" ]; do
        for d in "$a" ${b:+"$b"}; do
          tag=$(echo "$d" | md5sum | cut -c1-8)
          run_us "$k" "$d" "$action" "$HI" "$lm" "$groups" >>"$tmp/$tag.hi"
          run_us "$k" "$d" "$action" "$LO" "$lm" "$groups" >>"$tmp/$tag.lo"
        done
        i=$((i + 1))
      done
      per() {
        tag=$(echo "$1" | md5sum | cut -c1-8)
        echo "$(median <"$tmp/$tag.hi") $(median <"$tmp/$tag.lo")" | awk -v n=$((HI - LO)) '{printf "%.1f", ($1 - $2) / n}'
      }
      x=$(per "$a")
      printf '%-10s %-8s %-8s %10s' "$name" "$action" "$k" "$x"
      if [ -n "$b" ]; then
        y=$(per "$b")
        printf ' %10s %7s' "$y" "$(echo "$y $x" | awk '{printf "%.2f", $1 / $2}')"
      fi
      echo
    done
  done
done
