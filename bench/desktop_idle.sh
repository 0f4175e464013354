#!/usr/bin/env bash
# The desktop idle measurement: kolt's own CPU time at the Normal rate.
# Usage: bench/desktop_idle.sh KOLT_BINARY SECONDS [xcb|offscreen]   (AUDIO=driver to choose SDL's)
# Starts kolt (built-in program, no ROM) at the Normal rate, waits 3 s, then
# reports the process's own CPU time over SECONDS as a share of one core.
set -euo pipefail
bin=$(realpath "$1"); secs=$2; platform=${3:-xcb}
if [ "$platform" = xcb ] && [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
dir=$(mktemp -d); cd "$dir"
export SDL_AUDIODRIVER=${AUDIO:-dummy}
[ "$platform" != xcb ] && export QT_QPA_PLATFORM=$platform
"$bin" 2>/dev/null & pid=$!
sleep 3
t0=$(awk '{print $14+$15}' /proc/$pid/stat)
sleep "$secs"
t1=$(awk '{print $14+$15}' /proc/$pid/stat)
kill $pid; wait $pid 2>/dev/null || true
hz=$(getconf CLK_TCK)
echo "cpu share: $(echo "scale=2; 100*($t1-$t0)/$hz/$secs" | bc) % of a core over $secs s ($platform)"
rm -rf "$dir"
