#!/usr/bin/env bash
# A bounded fuzz run of the saved state by two fuzzers that share the time. The hand-written one
# mutates the processor's own bytes and calls its loader (in the AddressSanitizer/UBSan build when
# there is one, which scripts/test.sh makes, else in the release build). The coverage-guided one
# (libFuzzer) hands whole component states, JUCE's private-data trailer included, to the built
# module through IComponent::setState; its clang build in build-fuzz is made or brought up to date
# here. Usage: scripts/fuzz.sh [seconds] [seed]
# scripts/fuzz.sh --build-only builds the libFuzzer target and stops.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fuzz_build="$root/build-fuzz"
component_fuzzer="$fuzz_build/tests/fuzz/zandor_component_state_fuzz"

# The module and the libFuzzer target, built by clang with coverage hooks, ASan and UBSan.
build_component_fuzzer() {
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$fuzz_build" --log-level=NOTICE \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANDOR_FUZZ=ON
  cmake --build "$fuzz_build" -j "$(nproc)"
}

if [ "${1:-}" = "--build-only" ]; then
  build_component_fuzzer
  exit 0
fi

seconds="${1:-60}"
seed="${2:-$(date +%s)}"
processor_seconds=$(( seconds / 2 > 0 ? seconds / 2 : 1 ))
component_seconds=$(( seconds - processor_seconds > 0 ? seconds - processor_seconds : 1 ))

processor_fuzzer=""
for dir in build-sanitize build; do
  if [ -x "$root/$dir/tests/fuzz/zandor_state_fuzz" ]; then
    processor_fuzzer="$root/$dir/tests/fuzz/zandor_state_fuzz"
    break
  fi
done

if [ -z "$processor_fuzzer" ]; then
  echo "zandor_state_fuzz is not built: run scripts/test.sh first" >&2
  exit 1
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# clang's sanitizers name functions and lines in a report through LLVM's symbolizer.
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi

workdir="$(mktemp -d)"
keep() {
  echo "$1; inputs and logs kept in $workdir" >&2
  exit 1
}

# Quietly: the build's lines go to a log, shown when it fails.
if ! build_component_fuzzer >"$workdir/build.log" 2>&1; then
  tail -n 40 "$workdir/build.log" >&2
  keep "building the component-state fuzzer in $fuzz_build failed"
fi

cd "$workdir"

# The input count is only a ceiling: the time limit ends the run long before it.
"$processor_fuzzer" --iterations 1000000000 --seconds "$processor_seconds" --seed "$seed" \
  || keep "the processor state fuzz run failed"

# Seeds: states the module itself writes, so they follow the format as it is.
mkdir corpus seeds
if ! "$component_fuzzer" --write-seeds="$workdir/seeds" >seeds.log 2>&1; then
  tail -n 40 seeds.log >&2
  keep "the component-state fuzzer could not write its seeds"
fi
grep '^component-state fuzz:' seeds.log || true

# libFuzzer's progress lines go to a log; a finding keeps its input (crash-*, timeout-*) beside it.
# -timeout catches a load that never returns; the target itself flags one that is merely slow.
# Inputs may grow past the loader's 64 KiB limit on the text.
if ! "$component_fuzzer" -seed="$seed" -max_total_time="$component_seconds" -timeout=30 -max_len=131072 \
       -dict="$root/tests/fuzz/component-state.dict" -detect_leaks=0 -print_final_stats=1 \
       -artifact_prefix="$workdir/" corpus seeds >component-fuzz.log 2>&1; then
  # The report from its first line on, without the progress lines before it.
  report="$(awk '/ERROR|runtime error|^component-state fuzz:|ALARM|out-of-memory/ { found = 1 } found' component-fuzz.log | head -n 60)"
  if [ -n "$report" ]; then echo "$report" >&2; else tail -n 40 component-fuzz.log >&2; fi
  keep "component-state fuzz FAILED (seed $seed); run the crash-* or timeout-* input again with
  $component_fuzzer FILE"
fi

runs="$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1/p' component-fuzz.log)"
took="$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\2/p' component-fuzz.log)"
corpus="$(grep -o ' corp: [0-9]*' component-fuzz.log | tail -n 1 | grep -o '[0-9]*$' || true)"
echo "component-state fuzz: libFuzzer, seed $seed, ${runs:-?} inputs ran in ${took:-?} s" \
     "($(( ${runs:-0} / (${took:-1} > 0 ? ${took:-1} : 1) )) per second), corpus of ${corpus:-?} states, no failure"
cd /
rm -rf "$workdir"
