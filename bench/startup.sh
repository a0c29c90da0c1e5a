#!/bin/sh
# Start-up of quillan-batch: `--version`, every analysis of 9 permutations
# on a bundled set (reading the files, nine permutations, the report), and
# the import of a TPS file with curves (missing landmarks estimated,
# semilandmarks slid) written out by convert.
#
#   bench/startup.sh [BUILD_DIR] [RUNS]
#
# For each: the median wall time of RUNS runs (20 by default) by hyperfine
# when it is installed (apt-get install hyperfine), by a shell loop
# otherwise; the instructions of one run counted by callgrind, which a busy
# machine does not disturb, with the share spent in the dynamic loader; and
# how many shared libraries the program loads (none, linked whole).
set -eu
build=${1:-build}
nruns=${2:-20}
here=$(cd "$(dirname "$0")/.." && pwd)
batch=$build/quillan-batch
[ -x "$batch" ] || { echo "no $batch: build first" >&2; exit 1; }
data=$here/data
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
p9="-p 9 -s 1"
runs="--version
one-way -l $data/plethodon.lm.txt -g $data/plethodon.species.groups.txt $p9
model -l $data/plethodon.lm.txt -g $data/plethodon.groups.txt $p9
model -l $data/pupfish.lm.txt -g $data/pupfish.groups.txt $p9
convert $data/plethodon_curves.tps --estimate-missing tps --semilandmarks --out-prefix $out/curves
one-way-cov -l $data/plethodon.lm.txt -g $data/plethodon.groups.txt -c $data/plethodon.cov.txt $p9
two-way -l $data/plethodon.lm.txt -g $data/plethodon.groups.txt $p9
two-way -l $data/larvalHead.lm.txt -g $data/larvalMorph.groups.txt $p9
outliers -l $data/plethodon.lm.txt $p9
disparity -l $data/plethodon.lm.txt -g $data/plethodon.groups.txt $p9
cva -l $data/plethodon.lm.txt -g $data/plethodon.species.groups.txt $p9
integration -l $data/plethodon.lm.txt --partition $data/plethodon.partition.txt $p9
pls -l $data/pupfish.lm.txt --block2 $data/pupfish.cov.txt $p9
modularity -l $data/plethodon.lm.txt --partition $data/plethodon.partition.txt $p9
symmetry -l $data/mosquito.lm.txt -g $data/mosquito.groups.txt $p9"

grep -m1 'model name' /proc/cpuinfo
printf 'family %s, model %s\n' "$(grep -m1 'cpu family' /proc/cpuinfo | cut -d: -f2 | tr -d ' ')" \
  "$(grep -m1 '^model[^ ]*:' /proc/cpuinfo | cut -d: -f2 | tr -d ' ')"
echo "shared libraries loaded: $(ldd "$batch" 2>/dev/null | grep -c "=>" || true)"

echo "$runs" | while read -r args; do
  cmd="$batch $args"
  echo "== quillan-batch $args" | sed "s|$data/||g; s|$out/||g"
  if command -v hyperfine >/dev/null 2>&1; then
    hyperfine -N --warmup 3 --runs "$nruns" --export-json /tmp/quillan-startup.$$.json "$cmd" </dev/null >/dev/null 2>&1
    python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results'][0]; print('median %.2f ms, min %.2f ms (%d runs)' % (r['median']*1e3, r['min']*1e3, len(r['times'])))" \
      /tmp/quillan-startup.$$.json
    rm -f /tmp/quillan-startup.$$.json
  else
    i=0
    while [ $i -lt "$nruns" ]; do
      s=$(date +%s%N); $cmd </dev/null >/dev/null 2>&1; e=$(date +%s%N)
      echo $(((e - s) / 1000))
      i=$((i + 1))
    done | sort -n | awk '{t[NR]=$1} END {printf "median %.2f ms (%d runs)\n", (t[int((NR+1)/2)]+t[int(NR/2)+1])/2000, NR}'
  fi
  if command -v valgrind >/dev/null 2>&1; then
    cg=/tmp/quillan-startup.$$.cg
    valgrind --tool=callgrind --callgrind-out-file=$cg $cmd </dev/null >/dev/null 2>/tmp/quillan-startup.$$.err || true
    total=$(grep -m1 'refs:' /tmp/quillan-startup.$$.err | sed 's/.*refs: *//; s/,//g')
    loader=$(callgrind_annotate --inclusive=yes $cg 2>/dev/null | grep -m1 '_dl_start ' | awk '{gsub(",","",$1); print $1}')
    echo "instructions: $total${loader:+ (dynamic loader $loader)}"
    rm -f $cg /tmp/quillan-startup.$$.err
  fi
done
