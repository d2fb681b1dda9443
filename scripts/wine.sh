#!/usr/bin/env bash
# The Wine server of one build folder, for CTest's fixture: `start` makes the prefix that
# WINEPREFIX names (the first time), starts that prefix's own server and checks that a Windows
# program runs in it; `stop` stops exactly that server.
#   WINEPREFIX=DIR scripts/wine.sh start|stop WINE64
set -euo pipefail
action=$1 wine64=$2
: "${WINEPREFIX:?must name the prefix of the build folder}"
export WINEDEBUG=-all
wineserver=$(dirname "$wine64")/wineserver
[[ -x $wineserver ]] || wineserver=wineserver
# A server left by a run that was cut short is stopped too; no server left is what stop is for.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w
[[ $action == stop ]] && exit 0
mkdir -p "$WINEPREFIX"
# Everything started here is cut off from CTest's output pipes, which would keep CTest waiting
# for as long as the server lives. The persistent server comes first: one that a program starts
# ends as soon as it is idle, and a program that starts in that moment fails.
if ! timeout 5 setsid "$wineserver" -p </dev/null >/dev/null 2>&1 ||
  ! timeout 45 setsid "$wine64" wineboot --init </dev/null >/dev/null 2>&1 ||
  ! timeout 10 "$wine64" cmd.exe /c exit </dev/null >/dev/null 2>&1; then
  echo "Wine cannot run a program in $WINEPREFIX (with $wine64)" >&2
  exit 1
fi
