#!/usr/bin/env bash
# Sets up a fresh machine, builds everything in Debug with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs a short fuzzing of the map reader
# (FUZZ_SECONDS, default 60; 0 skips it), then every test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build/sanitize}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTIRVANE_SANITIZE=ON -DTIRVANE_WERROR=ON
cmake --build "$build"
bash scripts/fuzz.sh
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
