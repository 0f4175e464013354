#!/usr/bin/env bash
# Installs the Debian packages KOLT needs to build, run and test it, only those missing.
set -euo pipefail

packages=(
    # compilers and build
    g++ clang cmake ninja-build pkg-config z80asm
    # the core's tools: tests, benchmarks, PNG screenshots, fuzzing runtime
    libgtest-dev libgmock-dev libbenchmark-dev libpng-dev zlib1g-dev libclang-rt-14-dev
    # the desktop program: Qt 6 Widgets (with its SVG icon engine) and SDL2
    qt6-base-dev libqt6svg6 libsdl2-dev
    # the window tests: a virtual X display and screenshots
    xvfb xauth imagemagick
    # the package and the checks of what it installs
    dpkg-dev file lintian desktop-file-utils appstream libxml2-utils shared-mime-info man-db
    # a test checks a recording cut short with Python's wave module
    python3
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
