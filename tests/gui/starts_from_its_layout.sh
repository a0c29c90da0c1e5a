#!/bin/sh
# The program started beside its layout file opens its window: the picture
# of the window it saves is not empty.
#   starts_from_its_layout.sh QUILLAN
set -eu
quillan=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$quillan" --screenshot "$dir/window.png"
test -s "$dir/window.png"
