#!/usr/bin/env bash
# A bounded fuzz run of the saved state, shared between two targets:
# - the processor's own loader, fed by a hand-written mutator (in the AddressSanitizer/UBSan build
#   when there is one, which scripts/test.sh makes, else in the release build);
# - whole component states, JUCE's private-data trailer included, through the built module's VST3
#   interfaces, with libFuzzer from Debian's clang (a tree of its own, build-fuzz, built here).
# Usage: scripts/fuzz.sh [seconds] [seed]. Needs the release build (for the seeds' host).
# scripts/fuzz.sh --build-only builds the component-state target and stops.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fuzz_dir="$root/build-fuzz"

build_component_fuzzer() {
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  CC=clang CXX=clang++ cmake -S "$root" -B "$fuzz_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANDOR_FUZZ=ON \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" --log-level=NOTICE
  cmake --build "$fuzz_dir" -j "$(nproc)" --target zandor_component_state_fuzz
}

if [ "${1:-}" = "--build-only" ]; then
  build_component_fuzzer
  exit 0
fi

seconds="${1:-60}"
seed="${2:-$(date +%s)}"
half="$(awk -v s="$seconds" 'BEGIN { h = int (s / 2); print (h < 1 ? 1 : h) }')"

fuzzer=""
for dir in build-sanitize build; do
  if [ -x "$root/$dir/tests/fuzz/zandor_state_fuzz" ]; then
    fuzzer="$root/$dir/tests/fuzz/zandor_state_fuzz"
    break
  fi
done
host="$root/build/host/zandor-host"
bundle="$root/build/ZandorPellum_artefacts/Release/VST3/Zandor Pellum.vst3"
if [ -z "$fuzzer" ] || [ ! -x "$host" ] || [ ! -d "$bundle" ]; then
  echo "the state fuzzer or the release build is missing: run scripts/test.sh first" >&2
  exit 1
fi

workdir="$(mktemp -d)"
cd "$workdir"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# The input count is only a ceiling: the time limit ends the run long before it.
"$fuzzer" --iterations 1000000000 --seconds "$half" --seed "$seed" || {
  echo "fuzz run failed; inputs kept in $workdir" >&2
  exit 1
}

# The component-state target, built with clang and coverage (quietly: its log is shown on failure).
build_log="$workdir/fuzz-build.log"
if ! build_component_fuzzer >"$build_log" 2>&1; then
  tail -n 40 "$build_log" >&2
  echo "building the component-state fuzzer failed; its log is $build_log" >&2
  exit 1
fi

# Seeds: real states the module saves, its trailer with the bypass off and on, plain and with a
# pattern.
mkdir -p seeds corpus
bash "$root/scripts/state-from-xml.sh" "$root/scripts/demo-state.xml" demo.state
n=0
for settings in "" "--set Bypass=1" "--set drive=66 --set mode=FOLDBACK --set glitchOn=1" \
                "--set Bypass=1 --set mix=0 --set output=-24 --set filterType=BANDPASS" \
                "--load-state demo.state" "--load-state demo.state --set Bypass=1"; do
  n=$((n + 1))
  # shellcheck disable=SC2086
  if ! "$host" render "$bundle" --seconds 0.01 --out /dev/null $settings --save-state "seeds/state-$n.bin" >seeds.log 2>&1; then
    cat seeds.log >&2
    echo "making the seed states failed" >&2
    exit 1
  fi
done

log="$workdir/component-fuzz.log"
echo "component state fuzz (libFuzzer): seed $seed, ${half} s, $n seed states"
if ! "$fuzz_dir/tests/fuzz/zandor_component_state_fuzz" -seed="$seed" -max_total_time="$half" -timeout=30 \
       -max_len=4096 -detect_leaks=0 -print_final_stats=1 -dict="$root/tests/fuzz/component-state.dict" \
       -artifact_prefix="$workdir/" corpus seeds >"$log" 2>&1; then
  tail -n 60 "$log" >&2
  echo "component state fuzz failed; its log and the failing input are in $workdir" >&2
  exit 1
fi
runs="$(awk '/^stat::number_of_executed_units:/ { print $2 }' "$log")"
coverage="$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | awk '{ print $2 }')"
echo "component state fuzz: ${runs:-?} inputs in ${half} s, coverage ${coverage:-?} edges, $(ls corpus | wc -l) new corpus entries, no failure"
rm -rf "$workdir"
