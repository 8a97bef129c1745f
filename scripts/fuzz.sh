#!/usr/bin/env bash
# A longer bounded fuzz run of the state loader, in the AddressSanitizer/UBSan build when there is
# one (scripts/test.sh makes it), else in the release build. Usage: scripts/fuzz.sh [seconds] [seed]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
seed="${2:-$(date +%s)}"

fuzzer=""
for dir in build-sanitize build; do
  if [ -x "$root/$dir/tests/fuzz/zandor_state_fuzz" ]; then
    fuzzer="$root/$dir/tests/fuzz/zandor_state_fuzz"
    break
  fi
done

if [ -z "$fuzzer" ]; then
  echo "zandor_state_fuzz is not built: run scripts/test.sh first" >&2
  exit 1
fi

workdir="$(mktemp -d)"
cd "$workdir"
# The input count is only a ceiling: the time limit ends the run long before it.
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:halt_on_error=1}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
  "$fuzzer" --iterations 1000000000 --seconds "$seconds" --seed "$seed" || {
    echo "fuzz run failed; inputs kept in $workdir" >&2
    exit 1
  }
rm -rf "$workdir"
