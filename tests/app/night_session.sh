#!/usr/bin/env bash
# A whole simulated night worked in the desktop program under Xvfb with the
# xcb platform and a window manager (openbox), on a 1366 x 768 screen; then
# the tool stacks the project the window saved after the click, with the
# masters the window built: its FITS must be the window's, byte for byte.
# usage: night_session.sh QUELVISTA_CLI DRIVER WORK_FOLDER
set -euo pipefail
cli=$1 driver=$2 work=$3

rm -rf "$work"
mkdir -p "$work/tmp"
"$cli" simulate --out "$work/nuit" --frames 30 --width 1800 --height 1200 --dither 20 --cloud 17 \
  --hot-pixels --vignetting --calibrated --calibration-frames 10 --seed 7 >/dev/null
: >"$work/settings.ini"
export TMPDIR="$work/tmp"
bash "$(dirname "$0")/on_laptop_screen.sh" "$driver" "$work/nuit" "$work/settings.ini" "$work/shots" "$work/out"

"$cli" stack "$work/out/apres-clic.txt" --mark auto --dark "$work/nuit/darks/master-dark.fts" \
  --flat "$work/nuit/flats/master-plu.fts" --out "$work/out/outil.fts" >"$work/out/outil.json" 2>"$work/out/outil.txt"
if cmp "$work/out/fenetre.fts" "$work/out/outil.fts"; then
  echo "ok: le FITS de la fenêtre est celui de l'outil, octet pour octet"
else
  echo "ÉCHEC: le FITS de la fenêtre diffère de celui de l'outil"
  tail -5 "$work/out/outil.txt"
  exit 1
fi
