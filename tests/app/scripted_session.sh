#!/usr/bin/env bash
# The scripted session of the desktop program under Xvfb with the real xcb
# platform, then its screenshots against the committed references.
# usage: scripted_session.sh QUELVISTA_CLI DRIVER WORK_FOLDER REFERENCE_FOLDER
# QUELVISTA_UPDATE_REFERENCES=1 copies the new screenshots over the references
# (and the loaded window over the README's picture in docs/).
set -euo pipefail
cli=$1 driver=$2 work=$3 ref=$4
# Normalised RMSE (0..1) a screenshot may differ from its reference: room
# for font hinting and anti-aliasing, far below a missing or moved control.
tolerance=0.03

rm -rf "$work"
mkdir -p "$work/tmp"
"$cli" simulate --out "$work/sim" --frames 5 --width 320 --height 240 --seed 7 >/dev/null
: >"$work/settings.ini"
export TMPDIR="$work/tmp"
bash "$(dirname "$0")/on_laptop_screen.sh" "$driver" "$work/sim/project.txt" "$work/settings.ini" "$work/shots"

status=0
# The editor's saves, read back by decoders other than ours.
for ext in jpg bmp tif; do
  if ! info=$(identify -format "%w %h" "$work/saved.$ext" 2>/dev/null) || [ -z "$info" ]; then
    echo "saved.$ext is not a readable picture: $info"
    status=1
  else
    echo "saved.$ext: $info"
  fi
done
if command -v fitsverify >/dev/null; then
  if ! fitsverify -q -e "$work/saved.fts"; then
    echo "saved.fts does not verify"
    status=1
  fi
fi
for shot in "$work"/shots/*.png; do
  name=$(basename "$shot")
  if [ "${QUELVISTA_UPDATE_REFERENCES:-0}" = 1 ]; then
    cp "$shot" "$ref/$name"
    # The README shows the loaded window.
    [ "$name" = main-window-loaded.png ] && cp "$shot" "$ref/../../../docs/main-window.png"
    [ "$name" = editor-window.png ] && cp "$shot" "$ref/../../../docs/editor-window.png"
    continue
  fi
  if [ ! -f "$ref/$name" ]; then
    echo "no reference for $name"
    status=1
    continue
  fi
  # compare prints "absolute (normalised)" on stderr and exits 1 when the
  # pictures differ at all; only the figure matters here.
  metric=$(compare -metric RMSE "$shot" "$ref/$name" null: 2>&1 || true)
  value=$(sed -n 's/.*(\(.*\)).*/\1/p' <<<"$metric")
  if [ -z "$value" ] || awk -v v="$value" -v t="$tolerance" 'BEGIN { exit !(v > t) }'; then
    echo "$name differs from its reference: $metric (tolerance $tolerance)"
    status=1
  else
    echo "$name matches its reference: $value"
  fi
done
exit $status
