#!/usr/bin/env bash
# Builds KOLT (installing the packages it needs) and starts the desktop emulator
# in the folder you ran this from: that is where it looks for vzrom.v20 and
# vzdos.rom and where it keeps kolt.cfg. Arguments are passed on to kolt.
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target kolt kolt-headless
cd "$here"
exec "$root/build/release/src/kolt" "$@"
