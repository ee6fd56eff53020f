#!/usr/bin/env bash
# Line coverage of src/ by the whole test suite: a Debug build with gcov counters in
# build-coverage, the suite run once, and lcov's summary of the lines of src/ (the command
# line's and the window's main() included; tests, tools and Qt's generated code left out).
# Prints the summary and leaves the report in build-coverage/coverage.info.
#   BUILD_DIR   build folder (default: build-coverage)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$ROOT/scripts/setup-deps.sh" lcov
BUILD_DIR="${BUILD_DIR:-$ROOT/build-coverage}"
JOBS="${JOBS:-$(nproc)}"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRAVELWICK_BUILD_TESTS=ON \
    -DRAVELWICK_BUILD_BENCHMARKS=OFF -DRAVELWICK_INSTALL=OFF -DRAVELWICK_COVERAGE=ON >/dev/null
cmake --build "$BUILD_DIR" -j "$JOBS"
lcov --quiet --zerocounters --directory "$BUILD_DIR"
(cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen ctest -j "$JOBS" --timeout 900 --output-on-failure)
lcov --quiet --capture --directory "$BUILD_DIR" --output-file "$BUILD_DIR/coverage-all.info" \
    --rc lcov_branch_coverage=0 2>/dev/null
lcov --quiet --extract "$BUILD_DIR/coverage-all.info" "$ROOT/src/*" --output-file "$BUILD_DIR/coverage.info"
lcov --summary "$BUILD_DIR/coverage.info" 2>&1 | grep -E "lines|functions"
