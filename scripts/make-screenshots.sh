#!/usr/bin/env bash
# Renders the documentation's pictures (docs/*.png) offscreen from a scan of the demo library.
# Settings, cache and quarantine of the run stay in the test locations, away from the user's own.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build-release}"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target ravelwick_screenshots
demo="$(bash "$ROOT/scripts/make-demo-library.sh")"
QT_QPA_PLATFORM=offscreen "$BUILD_DIR/tools/ravelwick_screenshots" "$demo" "$ROOT/docs"
