#!/usr/bin/env bash
# Builds KOLT for the browser into build/web/site/ (installing the Debian
# packages it needs): the core as WebAssembly, the page, its script and style
# sheet. With --serve it then serves the site on http://localhost:8000.
#   bash scripts/web.sh [--serve]
set -euo pipefail
cd "$(dirname "$0")/.."

serve=0
for arg in "$@"; do
    case "$arg" in
    --serve) serve=1 ;;
    *) echo "usage: bash scripts/web.sh [--serve]" >&2; exit 2 ;;
    esac
done

bash scripts/deps.sh
packages=(emscripten node-acorn node-pako chromium z80asm cmake ninja-build python3)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node and npm: Debian's, unless a Node with its own npm is installed already.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Debian's emscripten finds acorn through NODE_PATH.
export NODE_PATH=/usr/share/nodejs
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
emcmake cmake -S . -B build/web -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DKOLT_FRONTEND=OFF -DKOLT_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build build/web -j "$(nproc)"
echo "The site is in build/web/site/"

if [ "$serve" -eq 1 ]; then
    echo "Serving it on http://localhost:8000 (Ctrl+C stops)"
    exec python3 -m http.server 8000 --bind 127.0.0.1 --directory build/web/site
fi
