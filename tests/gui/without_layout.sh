#!/bin/sh
# The program copied where there is no layout file says where it looked and
# ends with status 1, instead of waiting with no window.
#   without_layout.sh QUILLAN
set -u
quillan=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cp "$quillan" "$dir/" || exit 1
out=$("$dir/quillan" 2>&1)
rc=$?
echo "$out"
echo "exit status $rc"
case "$out" in
  *'Cannot find the layout file quillan.fig'*) test "$rc" -eq 1 ;;
  *) exit 1 ;;
esac
