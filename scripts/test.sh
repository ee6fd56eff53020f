#!/usr/bin/env bash
# Set-up, configure, build and run the whole test suite. Exits non-zero on any failure.
#   BUILD_DIR   build folder (default: build)
#   SANITIZE    e.g. address,undefined to build and test with sanitizers
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$ROOT/scripts/setup-deps.sh"

BUILD_DIR="${BUILD_DIR:-$ROOT/build}"
JOBS="${JOBS:-$(nproc)}"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
    -DRAVELWICK_BUILD_TESTS=ON \
    -DRAVELWICK_SANITIZE="${SANITIZE:-}"
cmake --build "$BUILD_DIR" -j "$JOBS"

export QT_QPA_PLATFORM=offscreen
cd "$BUILD_DIR"
ctest --output-on-failure -j "$JOBS" --timeout 600
