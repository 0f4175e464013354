#!/usr/bin/env bash
# Builds KOLT (installing what it needs) and starts the emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)"

echo "KOLT is built, but there is nothing to start yet: the emulator's core (the Z80 and the"
echo "machine record) exists, the memory map, video, sound, the command-line runner"
echo "and the desktop window do not. Run 'bash scripts/test.sh' to check what is there."
