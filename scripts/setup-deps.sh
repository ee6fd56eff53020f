#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, when any is
# missing, and any more packages named as arguments (the fuzz build's clang). Safe to run
# again: it does nothing when everything is present.
set -euo pipefail

PACKAGES=(
    qt6-base-dev
    qt6-multimedia-dev
    qt6-tools-dev
    qt6-l10n-tools
    qt6-translations-l10n
    libqt6sql6-sqlite
    gstreamer1.0-plugins-base
    gstreamer1.0-plugins-good
    gstreamer1.0-plugins-bad
    gstreamer1.0-libav
    ffmpeg
    libchromaprint-tools
    cmake
    ninja-build
    g++
    xvfb
    xauth
    "$@"
)

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
elif command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo)
else
    echo "setup-deps: missing packages (${missing[*]}) and neither root nor sudo is available." >&2
    exit 1
fi

echo "setup-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
