#!/bin/sh
# Start-up of quillan-batch: `--version`, a 9-permutation one-way test and
# a 9-permutation linear model (G1 * G2) on plethodon (reading the files,
# nine permutations, the report), and the import of a TPS file with curves
# (missing landmarks estimated, semilandmarks slid) written out by convert.
#
#   bench/startup.sh [BUILD_DIR] [RUNS]
#
# For each: the median wall time of RUNS runs (20 by default) by hyperfine
# when it is installed (apt-get install hyperfine), by a shell loop
# otherwise; the instructions of one run counted by callgrind, which a busy
# machine does not disturb, with the share spent in the dynamic loader; and
# how many shared libraries the program loads.
set -eu
build=${1:-build}
runs=${2:-20}
here=$(cd "$(dirname "$0")/.." && pwd)
batch=$build/quillan-batch
[ -x "$batch" ] || { echo "no $batch: build first" >&2; exit 1; }
data=$here/data
tiny="$batch one-way -l $data/plethodon.lm.txt -g $data/plethodon.species.groups.txt -p 9 -s 1 -t 1"
model="$batch model -l $data/plethodon.lm.txt -g $data/plethodon.groups.txt -p 9 -s 1 -t 1"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
curves="$batch convert $data/plethodon_curves.tps --estimate-missing tps --semilandmarks --out-prefix $out/curves"

grep -m1 'model name' /proc/cpuinfo
printf 'family %s, model %s\n' "$(grep -m1 'cpu family' /proc/cpuinfo | cut -d: -f2 | tr -d ' ')" \
  "$(grep -m1 '^model[^ ]*:' /proc/cpuinfo | cut -d: -f2 | tr -d ' ')"
echo "shared libraries loaded: $(ldd "$batch" | wc -l)"

for cmd in "$batch --version" "$tiny" "$model" "$curves"; do
  echo "== $cmd"
  if command -v hyperfine >/dev/null 2>&1; then
    hyperfine -N --warmup 3 --runs "$runs" --export-json /tmp/quillan-startup.$$.json "$cmd" >/dev/null 2>&1
    python3 -c "import json,sys; r=json.load(open(sys.argv[1]))['results'][0]; print('median %.2f ms, min %.2f ms (%d runs)' % (r['median']*1e3, r['min']*1e3, len(r['times'])))" \
      /tmp/quillan-startup.$$.json
    rm -f /tmp/quillan-startup.$$.json
  else
    i=0
    while [ $i -lt "$runs" ]; do
      s=$(date +%s%N); $cmd >/dev/null 2>&1; e=$(date +%s%N)
      echo $(((e - s) / 1000))
      i=$((i + 1))
    done | sort -n | awk '{t[NR]=$1} END {printf "median %.2f ms (%d runs)\n", (t[int((NR+1)/2)]+t[int(NR/2)+1])/2000, NR}'
  fi
  if command -v valgrind >/dev/null 2>&1; then
    cg=/tmp/quillan-startup.$$.cg
    valgrind --tool=callgrind --callgrind-out-file=$cg $cmd >/dev/null 2>/tmp/quillan-startup.$$.err || true
    total=$(grep -m1 'refs:' /tmp/quillan-startup.$$.err | sed 's/.*refs: *//; s/,//g')
    loader=$(callgrind_annotate --inclusive=yes $cg 2>/dev/null | grep -m1 '_dl_start ' | awk '{gsub(",","",$1); print $1}')
    echo "instructions: $total (dynamic loader ${loader:-?})"
    rm -f $cg /tmp/quillan-startup.$$.err
  fi
done
