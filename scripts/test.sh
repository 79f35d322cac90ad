#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite headless.
#   scripts/test.sh              the normal build
#   scripts/test.sh --sanitize   the same suite built with AddressSanitizer + UBSan
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  flags=(-DCMAKE_BUILD_TYPE=Debug -DRD780_SANITIZE=ON -DRD780_BENCH=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Leaks inside the system's font and graphics libraries are theirs, not ours.
  export LSAN_OPTIONS=suppressions=$PWD/.ci/lsan.supp:print_suppressions=0
fi

export QT_QPA_PLATFORM=offscreen
cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir" -j "$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j 2 --timeout 300
