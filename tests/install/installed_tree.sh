#!/bin/sh
# Installs the build into a temporary prefix and checks that the installed
# programs find what they need there: the layout file beside bin/, the example
# data, the picture module of quillan-batch, the Python module, the launcher
# entry, the icon and the man pages.
#   installed_tree.sh BUILD_DIR WITH_GUI(0|1) [WITH_MPI(0|1)] [WITH_PICTURES(0|1)]
set -eu
build=$1 gui=$2 mpi=${3:-0} pictures=${4:-0}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "installed tree: $*" >&2; exit 1; }

[ -x "$prefix/bin/quillan-batch" ] || fail "no bin/quillan-batch"
ex=$prefix/share/quillan/examples
for f in plethodon.lm.txt plethodon.groups.txt plethodon.tps plethodon.csv README.md plethspecies/plethspecies.tre; do
  [ -s "$ex/$f" ] || fail "no examples/$f"
done
[ -s "$prefix/share/doc/quillan/LICENSE" ] || fail "no licence"
# The installed README's links reach the installed pages beside it.
doc=$prefix/share/doc/quillan
sh "$(dirname "$0")/../docs/doc_links.sh" "$doc/README.md" "$doc"/docs/*.md || fail "links of the installed README lead nowhere"
"$prefix/bin/quillan-batch" --version | grep -q '^quillan-batch [0-9]' || fail "quillan-batch --version"
"$prefix/bin/quillan-batch" RunTwoWay --landmarks "$ex/plethodon.lm.txt" --groups "$ex/plethodon.groups.txt" \
  --perm 9 --seed 1 | grep -q 'Two Way' || fail "the installed batch program does not run the example"
if command -v help2man >/dev/null 2>&1; then
  [ -s "$prefix/share/man/man1/quillan-batch.1" ] || fail "no man page of quillan-batch"
fi
# The installed program finds its picture module in the installed library
# folder and draws with it.
if [ "$pictures" = 1 ]; then
  ls "$prefix"/lib*/quillan/quillan-pictures.so "$prefix"/lib/*/quillan/quillan-pictures.so 2>/dev/null | grep -q . ||
    fail "no quillan-pictures.so in lib/quillan"
  QT_QPA_PLATFORM=offscreen "$prefix/bin/quillan-batch" load --landmarks "$ex/plethodon.lm.txt" --plots "$prefix/pictures" \
    >/dev/null || fail "the installed batch program does not draw with its installed picture module"
  [ -s "$prefix/pictures/superimposition.svg" ] || fail "no picture from the installed picture module"
fi
# The Python package, where it was built, finds its library by its RUNPATH.
if [ -d "$prefix/lib/python3/dist-packages/quillan" ]; then
  PYTHONPATH=$prefix/lib/python3/dist-packages ${QUILLAN_PYTHON:-python3} -c "import quillan, sys
print(quillan.two_way(landmarks=sys.argv[1], groups=sys.argv[2], permutations=9, seed=1))" \
    "$ex/plethodon.lm.txt" "$ex/plethodon.groups.txt" | grep -q 'Two Way' || fail "the installed Python module does not run the example"
  # The first analysis of docs/python.md, on the installed examples.
  PYTHONPATH=$prefix/lib/python3/dist-packages ${QUILLAN_PYTHON:-python3} -c "import quillan, sys
d = quillan.read(sys.argv[1])
print(quillan.run('model', d, factors=sys.argv[2], formula='species * site', permutations=9, seed=1))" \
    "$ex/plethodon.tps" "$ex/plethodon.csv" | grep -q 'species:site' || fail "the installed Python module does not run a model on the imported example"
fi
if [ "$mpi" = 1 ]; then
  "$prefix/bin/quillan-batch-mpi" --version | grep -q '^quillan-batch-mpi [0-9]' || fail "quillan-batch-mpi --version"
  if command -v help2man >/dev/null 2>&1; then
    [ -s "$prefix/share/man/man1/quillan-batch-mpi.1" ] || fail "no man page of quillan-batch-mpi"
  fi
fi
if [ "$gui" = 1 ]; then
  [ -x "$prefix/bin/quillan" ] || fail "no bin/quillan"
  [ -s "$prefix/share/quillan/quillan.fig" ] || fail "no layout file"
  grep -q '^Categories=Science;' "$prefix/share/applications/quillan.desktop" || fail "no desktop entry in Science"
  [ -s "$prefix/share/icons/hicolor/scalable/apps/quillan.svg" ] || fail "no icon"
  # The installed program finds its layout in ../share/quillan and opens its window.
  QT_QPA_PLATFORM=offscreen "$prefix/bin/quillan" --screenshot "$prefix/window.png" || fail "the installed window does not open"
  [ -s "$prefix/window.png" ] || fail "no picture of the installed window"
  if command -v help2man >/dev/null 2>&1; then
    [ -s "$prefix/share/man/man1/quillan.1" ] || fail "no man page of quillan"
  fi
fi
echo "installed tree: complete"
