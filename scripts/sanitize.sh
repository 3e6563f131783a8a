#!/usr/bin/env bash
# Builds the station and its tests with AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer into build-asan and runs the test suite there. Any report fails the test
# that caused it. Leaks that are Qt's or a system library's own, not ours, are listed
# with their reasons in tests/lsan.supp.
#   bash scripts/sanitize.sh [ctest arguments...]   e.g. -L photo  or  -R tst_Records
set -euo pipefail
cd "$(dirname "$0")/.."
build=${SANITIZE_BUILD_DIR:-build-asan}

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUVELOCAP_SANITIZE=ON \
    -DQUVELOCAP_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j"${SANITIZE_JOBS:-$(nproc)}"

# No strict_string_checks: libxkbcommon hands strndup() buffers that are not NUL-ended,
# which that option reports although strndup stops at the length it is given.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:abort_on_error=0
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure --parallel 2 "$@"
