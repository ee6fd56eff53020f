#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, configures a RelWithDebInfo build
# without tests and benchmarks, builds it and runs `cpack -G DEB`, which makes
# ravelwick_<version>_<arch>.deb and the debug symbols in ravelwick-dbgsym_<version>_<arch>.ddeb.
# Prints the paths of the packages it made.
#   BUILD_DIR   build folder (default: build-package); an existing RelWithDebInfo build
#               folder can be given instead, such as the test build (tests are not packaged)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$ROOT/scripts/setup-deps.sh" dpkg-dev file binutils

BUILD_DIR="${BUILD_DIR:-$ROOT/build-package}"
JOBS="${JOBS:-$(nproc)}"
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DRAVELWICK_BUILD_TESTS=OFF \
        -DRAVELWICK_BUILD_BENCHMARKS=OFF >/dev/null
else
    cmake -S "$ROOT" -B "$BUILD_DIR" >/dev/null
fi
build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")"
if [ "$build_type" != "RelWithDebInfo" ]; then
    echo "make-package: $BUILD_DIR is a $build_type build; the package wants RelWithDebInfo" >&2
    exit 1
fi
cmake --build "$BUILD_DIR" -j "$JOBS"

cd "$BUILD_DIR"
rm -f ./*.deb ./*.ddeb
cpack -G DEB >/dev/null
shopt -s nullglob
packages=("$BUILD_DIR"/*.deb "$BUILD_DIR"/*.ddeb)
if [ ${#packages[@]} -lt 2 ]; then
    echo "make-package: cpack made no package and -dbgsym package in $BUILD_DIR" >&2
    exit 1
fi
printf '%s\n' "${packages[@]}"
