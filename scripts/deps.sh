#!/usr/bin/env bash
# Installs the Debian packages KOLT needs to build, test or run, only those missing.
#   scripts/deps.sh build   compilers, CMake, the test and benchmark libraries
#   scripts/deps.sh all     build, plus what the desktop program needs
set -euo pipefail

build_packages=(
    g++ clang cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
)

packages=("${build_packages[@]}")

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
