#!/usr/bin/env bash
# Installs, builds in Release mode and runs the main job: a simulated night
# of 20 calibrated exposures (dark, flat, hot pixels) stacked into one image.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target quelvista-cli
cli=build/src/quelvista-cli
out=demo-output
rm -rf "$out/sky"
mkdir -p "$out"
echo "Simulation de 20 poses (pixels chauds, dark, PLU, dérive et bruit)..."
"$cli" simulate --out "$out/sky" --frames 20 --calibrated --seed 7 >/dev/null
echo "Empilement avec la calibration..."
"$cli" stack "$out/sky/project.txt" --out "$out/stack.fts" > "$out/stack.json"
summary=$(tail -n 1 "$out/stack.json")
stacked=$(grep -c '"accepted":true' "$out/stack.json" || true)
echo
echo "Images empilées : $stacked sur 20 (détail : $out/stack.json)"
echo "Résumé : $summary"
"$cli" render "$out/stack.fts" --out "$out/stack.jpg" >/dev/null
echo "Résultat : $(pwd)/$out/stack.fts"
echo "Aperçu JPEG : $(pwd)/$out/stack.jpg"
