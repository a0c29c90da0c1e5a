#!/bin/sh
# --help and --version need no display: no DISPLAY, no Wayland, no platform
# chosen, as on a server or in a package build.
#   help_without_display.sh QUILLAN VERSION
set -eu
quillan=$1 version=$2
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
"$quillan" --help | grep -q '^Usage: quillan'
"$quillan" --version | grep -q "^quillan $version"
