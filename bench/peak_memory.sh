#!/usr/bin/env bash
# Peak resident memory of `quelvista-cli process` on a 4096 x 4096 monochrome
# and a 2048 x 2048 three-plane 16-bit FITS file, plain and with hot-pixel
# removal, filling and gradient removal (UseMask 0x4005).
#
# usage: bench/peak_memory.sh [BUILD_DIR | CLI_BINARY]      (default: build)
set -euo pipefail

arg=${1:-build}
if [[ -f "$arg" && -x "$arg" ]]; then cli=$arg; else cli="$arg/src/quelvista-cli"; fi
[[ -x "$cli" ]] || { echo "no $cli: build first" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A home of its own: the runs never read the user's settings.
export HOME="$tmp" XDG_CONFIG_HOME="$tmp/config" LC_ALL=C

# The monochrome frame comes straight from the simulator.
"$cli" simulate --out "$tmp/mono" --width 4096 --height 4096 --seed 3 >/dev/null
mono="$tmp/mono/frame001.fts"

# The three-plane frame: three simulated planes behind a NAXIS3 header.
"$cli" simulate --out "$tmp/plane" --width 2048 --height 2048 --seed 4 >/dev/null
colour="$tmp/rgb2048.fts"
plane_bytes=$((2048 * 2048 * 2))
{
  for card in "SIMPLE  =                    T" "BITPIX  =                   16" \
              "NAXIS   =                    3" "NAXIS1  =                 2048" \
              "NAXIS2  =                 2048" "NAXIS3  =                    3" \
              "BZERO   =                32768" "END"; do
    printf '%-80s' "$card"
  done
  printf '%*s' $((2880 - 8 * 80)) ''
  for _ in 1 2 3; do
    dd if="$tmp/plane/frame001.fts" iflag=skip_bytes,count_bytes skip=2880 count="$plane_bytes" bs=1M status=none
  done
  pad=$(( (2880 - (3 * plane_bytes) % 2880) % 2880 ))
  head -c "$pad" /dev/zero
} >"$colour"

# Maximum resident set size of one run, in kilobytes.
peak_kb() {
  if [[ -x /usr/bin/time ]]; then
    local status=0
    /usr/bin/time -v "$@" 2>"$tmp/time.txt" >/dev/null || status=$?
    awk -F': ' '/Maximum resident set size/ {printf "%s", $2}' "$tmp/time.txt"
    [[ $status -eq 0 ]] && echo || echo " (the run failed with status $status)"
  else
    # Without GNU time: poll the high-water mark until the process ends.
    # A peak reached in the last few milliseconds can be missed.
    "$@" >/dev/null 2>&1 &
    local pid=$! hwm=0 v
    while kill -0 "$pid" 2>/dev/null; do
      v=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [[ -n "$v" && "$v" -gt "$hwm" ]] && hwm=$v
      sleep 0.01
    done
    local status=0
    wait "$pid" || status=$?
    echo "$hwm (polled VmHWM, approximate)$([[ $status -eq 0 ]] || echo ", the run failed with status $status")"
  fi
}

printf '%-34s %s\n' "run" "peak RSS (kB)"
for file in "$mono" "$colour"; do
  name=$([[ "$file" == "$mono" ]] && echo "mono 4096x4096" || echo "3 planes 2048x2048")
  printf '%-34s %s\n' "$name, plain" "$(peak_kb "$cli" process "$file")"
  printf '%-34s %s\n' "$name, UseMask=0x4005" "$(peak_kb "$cli" process "$file" --set UseMask=16389)"
done
