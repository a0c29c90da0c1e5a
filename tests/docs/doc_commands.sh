#!/bin/sh
# Runs the shell examples of the user documentation against a build, on the
# bundled data, and fails when one of them ends with a non-zero status or
# when a link between the pages leads nowhere (doc_links.sh).
#
#   doc_commands.sh SOURCE_DIR BUILD_DIR HAVE_PICTURES [FILE.md ...]
#
# Every block fenced as ```sh in the files (README.md and docs/*.md of
# SOURCE_DIR when none are named) is run one command at a time, a line ending
# in a backslash going on to the next.  The commands of one file run in turn
# in a scratch folder of their own that holds `build` (BUILD_DIR) and `data`
# (the bundled data), so they run as written, from the top of a repository,
# and what they write is thrown away.  A block that cannot run here (it needs
# a display, root, MPI or a long time) follows a line starting with
# "<!-- not run" that says why, and is skipped.  Only the batch programs of
# the build are run: any other command in a block that is not skipped fails
# the check unrun, so a forgotten marker never installs or removes anything.  With HAVE_PICTURES 0 (a build
# without pictures) the commands that ask for pictures are skipped.
set -u
if [ $# -lt 3 ]; then
  echo "usage: $0 SOURCE_DIR BUILD_DIR HAVE_PICTURES [FILE.md ...]" >&2
  exit 64
fi
src=$(cd "$1" && pwd) || exit 1
build=$(cd "$2" && pwd) || exit 1
have_pictures=$3
shift 3
[ $# -eq 0 ] && set -- "$src/README.md" "$src"/docs/*.md

# The pages' links first: a moved section must not leave a link behind.
links_broken=0
sh "$(dirname "$0")/doc_links.sh" "$@" || links_broken=1

scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

ran=0
failed=0
skipped=0
number=0
for doc in "$@"; do
  number=$((number + 1))
  work="$scratch/run$number"
  commands="$scratch/commands$number"
  mkdir "$work" "$commands" || exit 1
  ln -s "$build" "$work/build"
  ln -s "$src/data" "$work/data"

  # One file per command: its place in the document, then the command.
  awk -v dir="$commands" -v name="${doc#"$src"/}" '
    /^```/ {
      if (!fenced) {
        fenced = 1
        run = ($0 ~ /^```sh[ \t]*$/) && (before !~ /^<!-- not run/)
        command = ""
      } else {
        fenced = 0
        before = $0
      }
      next
    }
    !fenced {
      if ($0 !~ /^[ \t]*$/) before = $0
      next
    }
    !run { next }
    command == "" && ($0 ~ /^[ \t]*(#.*)?$/) { next }
    {
      if (command == "") start = FNR
      command = command $0 "\n"
      if ($0 ~ /\\$/) next
      count++
      file = sprintf("%s/%03d.sh", dir, count)
      printf "# %s:%d\n%s", name, start, command > file
      close(file)
      command = ""
    }
  ' "$doc" || exit 1

  for f in "$commands"/*.sh; do
    [ -f "$f" ] || continue
    where=$(sed -n '1s/^# //p' "$f")
    text=$(sed 1d "$f")
    if [ "$have_pictures" != 1 ] && grep -q -e '--plots' "$f"; then
      echo "skipped, this build draws no pictures ($where): $text"
      skipped=$((skipped + 1))
      continue
    fi
    # Only the batch programs of the build run here: anything else that lost
    # its "not run" line (an install, a sudo) is refused rather than run.
    program=$(sed -n '2{s/^\([A-Za-z_][A-Za-z0-9_]*=[^ ]* *\)*//;s/[ \\].*//;p;}' "$f")
    case "$program" in
      build/quillan-batch | build/quillan-batch-mpi) ;;
      *)
        failed=$((failed + 1))
        echo "NOT RUN, $program is not a batch program of the build ($where): $text"
        echo "    (a block that cannot run here follows a line \"<!-- not run: why -->\")"
        continue
        ;;
    esac
    ran=$((ran + 1))
    if (cd "$work" && sh "$f") >"$scratch/output" 2>&1 </dev/null; then
      echo "ok ($where): $text"
    else
      status=$?
      failed=$((failed + 1))
      echo "FAILED with exit status $status ($where): $text"
      sed 's/^/    /' "$scratch/output"
    fi
  done
done

echo "$ran commands run, $failed failed, $skipped skipped"
if [ "$ran" -eq 0 ]; then
  echo "No commands found: are the examples still fenced as \`\`\`sh?"
  exit 1
fi
[ "$links_broken" -eq 0 ] || echo "Some links lead nowhere (listed at the top)."
[ "$failed" -eq 0 ] && [ "$links_broken" -eq 0 ]
