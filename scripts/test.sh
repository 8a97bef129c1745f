#!/usr/bin/env bash
# Sets up the machine, builds the plug-in, its host and the tests, and runs every test:
# once in a release build, once under AddressSanitizer and UndefinedBehaviorSanitizer,
# then a bounded fuzz run of the saved state (the processor's loader, and whole component states
# through the module with libFuzzer, in a clang build of its own).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/setup.sh

jobs="$(nproc)"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
source scripts/display.sh
ensure_display

build_tree() {
  local dir="$1"; shift
  # Status lines stay quiet; warnings and errors from the configure step still show.
  cmake -S . -B "$dir" --log-level=NOTICE "$@"
  cmake --build "$dir" -j "$jobs"
}

run_tests() {
  # One line per finished case (the "Start" lines of a parallel run say nothing more).
  (cd "$1" && ctest --output-on-failure --timeout 900 -j "$jobs" | grep -v '^ *Start  *[0-9]*: ')
}

echo "== release build"
build_tree build -DCMAKE_BUILD_TYPE=Release
run_tests build

echo "== sanitizer build (ASan + UBSan)"
# The fuzz phase's clang tree builds beside it: the long unity sources of each build leave cores
# the other can use. Neither runs while tests do.
fuzz_build_log="$root/build/fuzz-build.log"
bash scripts/fuzz.sh --build-only >"$fuzz_build_log" 2>&1 &
fuzz_build=$!
build_tree build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZANDOR_SANITIZE=ON -DZANDOR_BUILD_BENCH=OFF
if ! wait "$fuzz_build"; then
  tail -n 40 "$fuzz_build_log" >&2
  echo "building the component-state fuzzer failed; its log is $fuzz_build_log" >&2
  exit 1
fi
ASAN_OPTIONS="detect_leaks=0:halt_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  run_tests build-sanitize

if [ -x scripts/fuzz.sh ]; then
  echo "== fuzz (bounded)"
  # A fixed seed keeps CI reproducible; run scripts/fuzz.sh by hand for fresh seeds.
  bash scripts/fuzz.sh 60 20261211
fi
echo "all test suites passed"
