#!/bin/sh
# An operation called from the command line ends before a message window it
# opens could be seen: its text reaches standard output.  The user's own
# settings are left alone (QUILLAN_SETTINGS=/dev/null).
#   called_operation_prints.sh QUILLAN
set -eu
quillan=$1
out=$(QUILLAN_SETTINGS=/dev/null "$quillan" quillan_action load)
echo "$out"
test "$out" = 'Fell through case'
