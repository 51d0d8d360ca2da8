#!/usr/bin/env bash
# Builds everything and runs the whole test suite; non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2

# The Debian package: built, installed, and both programs answer from the
# installed paths. It comes before the tests, so that their summary closes the output.
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/quelvista_*_amd64.deb | head -n 1)
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
$sudo dpkg -i "$deb" || { $sudo apt-get -f install -y && $sudo dpkg -i "$deb"; }
/usr/bin/quelvista --version
/usr/bin/quelvista-cli --version

ctest --test-dir build --output-on-failure -j2
