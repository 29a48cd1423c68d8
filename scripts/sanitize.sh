#!/bin/sh
# Builds Broadtext with AddressSanitizer and UndefinedBehaviorSanitizer in its own folder (build-sanitize)
# and runs the whole test suite there. Any finding (bad memory access, leak, undefined behaviour) ends the
# test that caused it, and the script fails. Arguments go to ctest, e.g. scripts/sanitize.sh -R store.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBROADTEXT_SANITIZE=ON -DBROADTEXT_BENCH=OFF \
    >/dev/null
cmake --build build-sanitize -j2

# Leak checking stays on: the whole suite runs clean of leaks without suppressions.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Tests run several times slower under the sanitizers.
cd build-sanitize && ctest --output-on-failure --timeout 900 "$@"
