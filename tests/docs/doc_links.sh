#!/bin/sh
# Checks the relative links of Markdown pages: every linked file exists, and
# every #anchor names a heading of its page (as GitHub makes anchors: lower
# case, punctuation dropped, blanks turned into hyphens).  Addresses with a
# scheme (https:, mailto:) are not followed.
#
#   doc_links.sh PAGE.md...
#
# Prints each broken link with its page and line; the exit status is 1 when
# there is one.
set -u
[ $# -gt 0 ] || { echo "usage: $0 PAGE.md..." >&2; exit 64; }
awk '
  function folder(path) { if (path ~ /\//) { sub(/\/[^\/]*$/, "", path); return path } return "." }
  function slug(text) {
    text = tolower(text)
    gsub(/[^a-z0-9 _-]/, "", text)
    gsub(/ /, "-", text)
    return text
  }
  # The anchors of a page, read once.
  function read_anchors(path,    line, fenced) {
    if (path in read) return
    read[path] = 1
    fenced = 0
    while ((getline line < path) > 0) {
      if (line ~ /^```/) fenced = !fenced
      else if (!fenced && line ~ /^#+ /) { sub(/^#+ +/, "", line); anchor[path, slug(line)] = 1 }
    }
    close(path)
  }
  function exists(path,    line, status) {
    status = (getline line < path)
    close(path)
    return status >= 0
  }
  /^```/ { fenced = !fenced; next }
  fenced { next }
  {
    rest = $0
    while (match(rest, /\]\([^) ]+\)/)) {
      target = substr(rest, RSTART + 2, RLENGTH - 3)
      rest = substr(rest, RSTART + RLENGTH)
      if (target ~ /^[a-z]+:/) continue
      page = target; mark = ""
      if (index(target, "#")) { page = substr(target, 1, index(target, "#") - 1); mark = substr(target, index(target, "#") + 1) }
      path = (page == "") ? FILENAME : folder(FILENAME) "/" page
      if (page != "" && !exists(path)) { print FILENAME ":" FNR ": no file " page; broken++; continue }
      if (mark != "") {
        read_anchors(path)
        if (!((path, mark) in anchor)) { print FILENAME ":" FNR ": no heading #" mark " in " path; broken++ }
      }
    }
  }
  END { exit broken > 0 }
' "$@"
