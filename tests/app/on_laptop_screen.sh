#!/usr/bin/env bash
# Runs a program of the desktop on a laptop's 1366 x 768 screen under Xvfb,
# with the real xcb platform and a window manager that frames the windows
# (title bars take room from the screen) and takes Alt+drag, as desktops do.
# usage: on_laptop_screen.sh PROGRAM [ARGUMENTS...]
set -euo pipefail
inner=$(mktemp)
trap 'rm -f "$inner"' EXIT
cat >"$inner" <<'INNER'
wm=""
if command -v openbox >/dev/null; then
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  sleep 1
else
  echo "openbox manque : la session tourne sans gestionnaire de fenêtres"
fi
status=0
env QT_QPA_PLATFORM=xcb LANG=C.UTF-8 "$@" || status=$?
if [ -n "$wm" ]; then kill "$wm" 2>/dev/null || true; fi
exit $status
INNER
xvfb-run -a -s "-screen 0 1366x768x24" bash "$inner" "$@"
