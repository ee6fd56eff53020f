#!/usr/bin/env bash
# Builds Ravelwick (Release) and opens it on the given folders, starting a scan at once.
# With no folder, it first makes a small demo library of duplicates and scans that.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$ROOT/scripts/setup-deps.sh"

BUILD_DIR="${BUILD_DIR:-$ROOT/build-release}"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRAVELWICK_BUILD_TESTS=OFF \
    -DRAVELWICK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target ravelwick

folders=("$@")
if [ ${#folders[@]} -eq 0 ]; then
    demo="$(bash "$ROOT/scripts/make-demo-library.sh")"
    echo "Scanning the demo library in $demo"
    folders=("$demo")
fi

args=()
for f in "${folders[@]}"; do
    args+=(--scan "$(realpath "$f")")
done
args+=(--autostart)

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<MSG
No display was found, so the window cannot open here.
Run it under a virtual X server instead:
    xvfb-run -a bash scripts/run.sh ${*:-}
or set QT_QPA_PLATFORM=offscreen to run it without showing anything.
MSG
    exit 2
fi

exec "$BUILD_DIR/src/ravelwick" "${args[@]}"
