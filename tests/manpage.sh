#!/bin/sh
# The manual page renders without a single warning, through groff and through man, and keeps the
# sections a reader looks for.
set -u
page=$1
status=0
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
groff -man -ww -z "$page" >warnings 2>&1 || status=1
MANWIDTH=80 man --warnings -l "$page" >rendered 2>>warnings || status=1
if [ -s warnings ]; then
  cat warnings
  status=1
fi
for section in NAME SYNOPSIS DESCRIPTION OUTPUT "EXIT STATUS" EXAMPLES SECURITY "SEE ALSO"; do
  grep -qx "$section" rendered || { echo "section $section is missing"; status=1; }
done
exit $status
