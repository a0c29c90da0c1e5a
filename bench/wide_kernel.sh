#!/bin/bash
# Whether the 8-lane (AVX-512) kernel earns its width: the time per
# permutation of the one- and two-factor tests on a generated large study
# (10,000 specimens x 50 landmarks, groups 10 x 4, as the kernel benchmark's
# "large" set) on the AVX2 and the AVX-512 kernel, and their ratio.
#
#   bench/wide_kernel.sh BUILD_DIR [ROUNDS]
#
# Each figure is (median processor time of the runs at HI permutations -
# median at LO) / (HI - LO), in microseconds: the reading of the 12 MB file
# and the observed fit drop out.  Processor time (user + system), not wall
# time: on a machine shared with others the wall time of this memory-heavy
# work moves by a third from run to run.  The two kernels' runs alternate,
# ROUNDS (7 by default) of each.  One thread, seed 1.
set -eu
build=$1
rounds=${2:-7}
HI=${HI:-209}
LO=${LO:-9}
bin=$build/quillan-batch
[ -x "$bin" ] || { echo "no $bin: build first" >&2; exit 1; }
grep -qw avx512f /proc/cpuinfo || { echo "this processor has no AVX-512: nothing to compare" >&2; exit 1; }

grep -m1 'model name' /proc/cpuinfo
printf 'family %s, model %s\n' "$(grep -m1 'cpu family' /proc/cpuinfo | cut -d: -f2 | tr -d ' ')" \
  "$(grep -m1 '^model[^ ]*:' /proc/cpuinfo | cut -d: -f2 | tr -d ' ')"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The study: 40 cell means around a wobbly circle, each specimen a noisy copy
# of its cell's mean, scaled, turned and moved at random.
awk -v n=10000 -v k=50 -v lm="$tmp/large.lm.txt" -v g2="$tmp/large.groups.txt" -v g1="$tmp/large.g1.txt" '
function normal() { return sqrt(-2 * log(rand() + 1e-300)) * cos(2 * pi * rand()) }
BEGIN {
  srand(99); pi = atan2(0, -1)
  for (j = 0; j < k; j++) { r = 1 + 0.3 * rand(); bx[j] = r * cos(2 * pi * j / k); by[j] = r * sin(2 * pi * j / k) }
  for (c = 0; c < 40; c++) for (j = 0; j < k; j++) { mx[c, j] = bx[j] + 0.05 * normal(); my[c, j] = by[j] + 0.05 * normal() }
  for (i = 0; i < n; i++) {
    a = i % 10; b = int(i / 10) % 4; c = a * 4 + b
    s = 0.5 + rand(); t = 2 * pi * rand(); tx = 10 * normal(); ty = 10 * normal(); size = 0; line = ""
    for (j = 0; j < k; j++) {
      x = mx[c, j] + 0.02 * normal(); y = my[c, j] + 0.02 * normal()
      line = line sprintf("%.10g %.10g ", s * (x * cos(t) - y * sin(t)) + tx, s * (x * sin(t) + y * cos(t)) + ty)
      size += s * s * (x * x + y * y)
    }
    print line sprintf("%.10g", sqrt(size)) > lm
    print a + 1, b + 1 > g2
    print a + 1 > g1
  }
}'

# Processor seconds (user + system) of one run.
run_s() {
  local TIMEFORMAT='%U %S' t
  t=$({ time env QUILLAN_KERNEL="$1" "$bin" "$2" -t 1 -s 1 -p "$3" -l "$tmp/large.lm.txt" -g "$4" >/dev/null 2>&1; } 2>&1)
  echo "$t" | awk '{print $1 + $2}'
}
median() { sort -n | awk '{t[NR]=$1} END {print (t[int((NR+1)/2)]+t[int(NR/2)+1])/2}'; }

printf '%-8s %12s %12s %8s\n' action "avx2 us" "avx512 us" ratio
for action in one-way two-way; do
  if [ "$action" = one-way ]; then groups=$tmp/large.g1.txt; else groups=$tmp/large.groups.txt; fi
  for k in avx2 avx512; do rm -f "$tmp/$k.hi" "$tmp/$k.lo"; done
  i=0
  while [ $i -lt "$rounds" ]; do
    for k in avx2 avx512; do
      run_s "$k" "$action" "$HI" "$groups" >>"$tmp/$k.hi"
      run_s "$k" "$action" "$LO" "$groups" >>"$tmp/$k.lo"
    done
    i=$((i + 1))
  done
  per() { echo "$(median <"$tmp/$1.hi") $(median <"$tmp/$1.lo")" | awk -v n=$((HI - LO)) '{printf "%.0f", 1e6 * ($1 - $2) / n}'; }
  x=$(per avx2)
  y=$(per avx512)
  printf '%-8s %12s %12s %8s\n' "$action" "$x" "$y" "$(echo "$y $x" | awk '{printf "%.2f", $1 / $2}')"
done
