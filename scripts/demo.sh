#!/usr/bin/env bash
# Installs, builds in Release mode and runs the main job on generated data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUELVISTA_TESTS=OFF -DQUELVISTA_BENCH=OFF >/dev/null
cmake --build build -j2 --target quelvista-cli
cli=build/src/quelvista-cli
out=demo-output
mkdir -p "$out"
"$cli" simulate --out "$out/sky" --frames 1 --hot-pixels
"$cli" process "$out/sky/frame001.fts" --set UseMask=16389 --set CalcThr=300 --out "$out/result.fts"
echo
echo "Image traitée : $(pwd)/$out/result.fts"
