# Sourced by scripts/test-all and scripts/figures: starts Wine for the Windows program's tests and
# stops it again at the end, if it was ours.
export WINEDEBUG=-all
wine_started=0
start_wine() {
  # A new prefix must exist before the first test starts, or that start times out. The server and
  # Wine's own services are started here, detached, because anything they inherit from CTest keeps
  # CTest waiting on its output pipes.
  local wine64=/usr/lib/wine/wine64
  [[ -x $wine64 ]] || wine64=$(command -v wine64 || command -v wine)
  # A server that was already running belongs to someone else and is left alone at the end.
  pgrep -x wineserver >/dev/null || pgrep -x wineserver64 >/dev/null || wine_started=1
  # The persistent server first: one that another Wine program starts ends as soon as it is idle,
  # and a program that starts in that moment fails. It needs the prefix's folder to exist, and it
  # puts itself in the background once ready.
  if ((wine_started)); then
    mkdir -p "${WINEPREFIX:-$HOME/.wine}"
    setsid wineserver -p </dev/null >/dev/null 2>&1 || true
  fi
  setsid wineboot --init </dev/null >/dev/null 2>&1 || true
  setsid "$wine64" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}
stop_wine() { ((wine_started)) && wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
