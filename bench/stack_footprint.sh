#!/usr/bin/env bash
# Peak resident memory and peak temporary disk of one `stack --guide auto`
# run over N simulated frames of W x H, with TMPDIR in a folder of its own
# (under /var/tmp by default, so that /tmp on tmpfs does not count against RAM).
#
# usage: bench/stack_footprint.sh FRAMES WIDTH HEIGHT [BUILD_DIR] [PARENT_FOLDER]
# e.g.   bench/stack_footprint.sh 500 640 480
#        bench/stack_footprint.sh 50 4096 4096        (needs about 11 GB free)
set -euo pipefail

frames=${1:?frames} width=${2:?width} height=${3:?height}
build=${4:-build} parent=${5:-/var/tmp}
cli="$build/src/quelvista-cli"
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }

need=$((frames * (24 + 12 * width * height) + 2 * frames * width * height * 2))
free=$(($(df -k --output=avail "$parent" | tail -1) * 1024))
if ((free < need)); then
  echo "not enough free space in $parent: $((free >> 20)) MiB free, about $((need >> 20)) MiB needed" >&2
  exit 1
fi

work=$(mktemp -d "$parent/qv-footprint.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/config" LC_ALL=C TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"

"$cli" simulate --out "$work/sky" --frames "$frames" --width "$width" --height "$height" \
  --seed 7 --drift 0,0 --dither 8 >/dev/null

# Poll the temporary folder's size while the run goes; the run's own peak RSS
# comes from GNU time.
/usr/bin/time -v "$cli" stack "$work/sky" --guide auto --out "$work/stack.fts" \
  >"$work/out.json" 2>"$work/err.txt" &
pid=$!
peak=0
while kill -0 "$pid" 2>/dev/null; do
  # Files come and go while du walks the folder: it may complain; keep its total.
  used=$({ du -sb "$TMPDIR" 2>/dev/null || true; } | head -n 1 | cut -f 1)
  used=${used:-0}
  ((used > peak)) && peak=$used
  sleep 0.2
done
status=0
wait "$pid" || status=$?
rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/err.txt")
wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/err.txt")
left=$(find "$TMPDIR" -type f | wc -l)
echo "frames=$frames size=${width}x${height} status=$status wall=$wall" \
  "peak_rss=$((rss / 1024))MiB peak_temp=$((peak >> 20))MiB files_left=$left"
grep -E "images (empilées|combinées)" "$work/err.txt" || true
