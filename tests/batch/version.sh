#!/bin/sh
# quillan-batch --version names the program and its release first.
#   version.sh QUILLAN_BATCH VERSION
set -eu
out=$("$1" --version)
echo "$out"
case "$out" in
  "quillan-batch $2"*) ;;
  *) exit 1 ;;
esac
