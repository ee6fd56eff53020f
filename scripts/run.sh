#!/usr/bin/env bash
# Builds Ravelwick (Release) and opens it on the given folders, starting a scan at once.
# With no folder, it first makes a small demo library of duplicates and scans that.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$ROOT/scripts/setup-deps.sh"

BUILD_DIR="${BUILD_DIR:-$ROOT/build-release}"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRAVELWICK_BUILD_TESTS=OFF \
    -DRAVELWICK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target ravelwick ravelwick-cli

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
    # No display: do the same scan headless and leave an HTML report.
    report_dir="${XDG_CACHE_HOME:-$HOME/.cache}/ravelwick"
    mkdir -p "$report_dir"
    report="$report_dir/Ravelwick-$(date +%Y%m%d-%H%M%S).html"
    echo "No display found: scanning with ravelwick-cli instead of opening the window." >&2
    echo "(To see the window, run it under a virtual X server: xvfb-run -a bash scripts/run.sh ${*:-})" >&2
    status=0
    "$BUILD_DIR/src/ravelwick-cli" scan --report "$report" "${folders[@]}" || status=$?
    if [ "$status" -le 1 ]; then
        echo "The report is in $report"
        exit 0
    fi
    exit "$status"
fi

exec "$BUILD_DIR/src/ravelwick" "${args[@]}"
