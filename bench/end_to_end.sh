#!/usr/bin/env bash
# Whole stacking runs of the command-line tool on simulated series of 20
# frames: 2048 x 1536 monochrome, 2048 x 1536 three-plane and 4096 x 4096
# monochrome. Prints the seconds per frame and the peak resident memory of
# each run. The frames and the temporary stacking files (three 32-bit planes
# per accepted frame, 4 GB for the largest series) live in a temporary
# folder that is removed at the end.
#
# usage: bench/end_to_end.sh [BUILD_DIR | CLI_BINARY]      (default: build)
set -euo pipefail

arg=${1:-build}
if [[ -f "$arg" && -x "$arg" ]]; then cli=$arg; else cli="$arg/src/quelvista-cli"; fi
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A home of its own: the runs never read the user's settings.
export HOME="$tmp" XDG_CONFIG_HOME="$tmp/config" LC_ALL=C
mkdir -p "$tmp/stacking"
export TMPDIR="$tmp/stacking"

frames=20
printf '%-26s %10s %12s %14s %8s\n' "series" "total (s)" "s / frame" "peak RSS (MB)" "stacked"
run() {
  local name=$1 w=$2 h=$3 colour=$4
  local dir="$tmp/$name"
  "$cli" simulate --out "$dir" --frames "$frames" --width "$w" --height "$h" --colour "$colour" --seed 5 >/dev/null
  local status=0 seconds rss stacked
  if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -v "$cli" stack "$dir/project.txt" --out "$dir/result.fts" >"$dir/out.json" 2>"$dir/time.txt" || status=$?
    seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s}' "$dir/time.txt")
    rss=$(awk -F': ' '/Maximum resident set size/ {printf "%.0f", $2 / 1024}' "$dir/time.txt")
  else
    # Without GNU time: wall clock from bash, memory not measured.
    local start=$EPOCHREALTIME
    "$cli" stack "$dir/project.txt" --out "$dir/result.fts" >"$dir/out.json" 2>/dev/null || status=$?
    seconds=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {print b - a}')
    rss="n/a"
  fi
  stacked=$(grep -o '"stacked":[0-9]*' "$dir/out.json" | cut -d: -f2 || true)
  printf '%-26s %10.2f %12.3f %14s %8s%s\n' "$name ${w}x${h}" "$seconds" "$(awk -v s="$seconds" -v f="$frames" 'BEGIN {print s / f}')" \
    "$rss" "${stacked:-0}" "$([[ $status -eq 0 ]] || echo "  (the run failed with status $status)")"
  rm -rf "$dir"
}

run mono 2048 1536 mono
run rgb 2048 1536 rgb
run mono 4096 4096 mono
