#!/bin/sh
# scripts/function-lengths measures every kind of function heading in the
# sample (constructors with brace initialisers, operators, trailing return
# types, templates, members defined in their class) and is not misled by
# braces in comments, strings, raw strings, character literals, macros or
# lambdas kept in variables.  Without this, a listing that silently missed
# functions would let the length rule pass on anything.
#   function_lengths.sh SOURCE_DIR
set -eu
root=$1
sample=$root/tests/scripts/function_lengths_sample.cpp
status=0

expected="    7  $sample:46  separated
    4  $sample:13  Counter
    4  $sample:18  operator==
    4  $sample:35  twice
    1  $sample:17  count
    1  $sample:22  steps"
actual=$(sh "$root/scripts/function-lengths" -n 0 "$sample") && {
    echo "a listing of functions did not exit with status 1"
    status=1
}
if [ "$actual" != "$expected" ]; then
    printf 'every function, expected:\n%s\ngot:\n%s\n' "$expected" "$actual"
    status=1
fi

# Only what is longer than the limit, and status 0 when nothing is.
actual=$(sh "$root/scripts/function-lengths" -n 4 "$sample") && status=1
[ "$actual" = "    7  $sample:46  separated" ] || { printf 'over 4 lines, got:\n%s\n' "$actual"; status=1; }
if ! actual=$(sh "$root/scripts/function-lengths" -n 7 "$sample") || [ -n "$actual" ]; then
    printf 'over 7 lines should list nothing and pass, got:\n%s\n' "$actual"
    status=1
fi
exit $status
