#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (when missing),
# builds the driver with warnings as errors, runs the whole test suite, then
# builds and runs it again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

"$top/scripts/install-deps.sh"

run_suite() {
  local dir=$1; shift
  cmake -S "$top" -B "$dir" -DZT_WERROR=ON "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

run_suite "$top/build"
# Every input that comes from outside: each fuzz harness for a bounded time.
"$top/fuzz/run.sh" "${ZT_FUZZ_SECONDS:-8}" "$top/build-fuzz"
LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0 ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "$top/build-asan" -DZT_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
