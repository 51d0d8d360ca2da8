#!/usr/bin/env bash
# Builds everything and runs the tests in three stages; non-zero on any
# failure. A stage that fails does not stop the next: one run tells all that
# is wrong. Each stage says how long it took.
#
#   1. the normal suite (build/, the system compiler), with the Debian
#      package built, installed and asked for its version;
#   2. the sanitizer suite (build-san/, clang with AddressSanitizer and
#      UndefinedBehaviorSanitizer): the same tests, the window sessions under
#      Xvfb included, less the checks of the sources, which stage 1 ran; any
#      report fails it;
#   3. a short run of each fuzz target from its seeds (FUZZ_SECONDS each,
#      30 by default), built in build-san/ with the sanitizer suite.
#
# STAGES="1 3" runs only some of them.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=" ${STAGES:-1 2 3} "
fuzz_seconds=${FUZZ_SECONDS:-30}
started=$SECONDS
stage_start=$SECONDS
failed=()

# "== étape ... : N s" after each stage, and the total at the end.
stage_done() {
  echo "== $1 : $((SECONDS - stage_start)) s"
  stage_start=$SECONDS
}

bash scripts/install-deps.sh
stage_done "dépendances"

# Two full builds (the normal one and the sanitizer one) on two cores take
# long; with ccache a run rebuilds only what changed. Paths are taken
# relative to the checkout, so a fresh clone finds what an earlier one left.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD
fi

if [[ $stages == *" 1 "* ]]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  cmake --build build -j2
  stage_done "étape 1, construction"

  # The Debian package: built, installed, and both programs answer from the
  # installed paths.
  (cd build && cpack -G DEB >/dev/null)
  deb=$(ls build/quelvista_*_amd64.deb | head -n 1)
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo dpkg -i "$deb" || { $sudo apt-get -f install -y && $sudo dpkg -i "$deb"; }
  /usr/bin/quelvista --version
  /usr/bin/quelvista-cli --version

  ctest --test-dir build --output-on-failure -j2 || failed+=("étape 1")
  stage_done "étape 1, paquet et tests"
fi

if [[ $stages == *" 2 "* || $stages == *" 3 "* ]]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Release -DQUELVISTA_FUZZ=ON \
    -DQUELVISTA_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build build-san -j2
  stage_done "étapes 2 et 3, construction avec les sanitizers"
fi

if [[ $stages == *" 2 "* ]]; then
  # Reports also go to files: a program a test expects to fail (the tool
  # with status 1) must not hide one behind its expected failure.
  reports=$(mktemp -d)
  export ASAN_OPTIONS="log_path=$reports/asan" UBSAN_OPTIONS="log_path=$reports/ubsan"
  status=0
  ctest --test-dir build-san --output-on-failure -j2 \
    -E '^(sources_keep_their_format|layers_only_look_down|architecture_page_is_true)$' ||
    status=$?
  unset ASAN_OPTIONS UBSAN_OPTIONS
  if compgen -G "$reports/*" >/dev/null; then
    echo "Rapports des sanitizers :"
    cat "$reports"/*
    status=1
  fi
  rm -rf "$reports"
  stage_done "étape 2, tests sous les sanitizers"
  [ $status = 0 ] || failed+=("étape 2")
fi

if [[ $stages == *" 3 "* ]]; then
  # Two targets at a time, one per core; new inputs go to a scratch folder
  # so the committed seeds stay as they are.
  scratch=$(mktemp -d)
  root=$PWD
  fuzz_one() {
    local name=$1
    mkdir -p "$scratch/$name"
    (cd "$scratch/$name" &&
      "$root/build-san/tests/fuzz/fuzz_$name" -max_total_time="$fuzz_seconds" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 new "$root/tests/fuzz/corpus/$name" >log 2>&1 ||
      { echo "fuzz_$name a échoué :"; tail -n 60 log; exit 1; }) || return 1
    echo "fuzz_$name : $(grep -E '^stat::number_of_executed_units' "$scratch/$name/log" | awk '{print $2}') exécutions," \
      "$(grep -oE 'cov: [0-9]+' "$scratch/$name/log" | tail -n 1)"
  }
  status=0
  targets=(fits tiff picture project settings tempfile zones)
  for ((i = 0; i < ${#targets[@]}; i += 2)); do
    pids=()
    for name in "${targets[@]:i:2}"; do
      mkdir -p "$scratch/$name/new"
      fuzz_one "$name" &
      pids+=($!)
    done
    for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  done
  rm -rf "$scratch"
  stage_done "étape 3, fuzzing ($fuzz_seconds s par cible)"
  [ $status = 0 ] || failed+=("étape 3")
fi

echo "== total : $((SECONDS - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "Échec : ${failed[*]}"
  exit 1
fi
