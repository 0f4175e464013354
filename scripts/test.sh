#!/usr/bin/env bash
# Builds KOLT and runs the whole test suite:
#   1. the release build: quick unit tests, then the long checks (Z80 exerciser),
#      then the frame pacing over a minute of wall time, run alone;
#   2. the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the fuzz targets built with clang and libFuzzer, each run briefly on its seeds;
#   4. the web page: built with scripts/web.sh, its WebAssembly core tested in Node
#      against the release build, and the page in headless Chromium.
# Between 1 and 2 the Debian package is built from the release build, checked with
# lintian, installed with its dependencies, run from PATH and removed again.
# Benchmarks are built (so they keep compiling) but not run; see README.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

jobs=$(nproc)
stage() { echo "== $* (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }
run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" -L quick --output-on-failure -j "$jobs"
    ctest --test-dir "$dir" -L long --output-on-failure -j "$jobs"
}

stage "release build"
run_suite build/release -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
ctest --test-dir build/release -L pacing --output-on-failure
stage "the package: the installed tree, lintian, and installed on this machine"
bash scripts/package.sh --check
stage "sanitizer build (address, undefined)"
run_suite build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOLT_SANITIZE=ON -DKOLT_BENCHMARKS=OFF
stage "fuzz smoke runs (clang, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKOLT_FUZZ=ON -DKOLT_BENCHMARKS=OFF >/dev/null
cmake --build build/fuzz -j "$jobs" --target kolt_fuzzers
ctest --test-dir build/fuzz -L fuzz --output-on-failure -j "$jobs"
stage "web page (WebAssembly core in Node, the page in headless Chromium)"
bash scripts/web.sh
(cd tests/web && npm ci --no-audit --no-fund --ignore-scripts >/dev/null)
ctest --test-dir build/release -L web --output-on-failure
echo "All tests passed in $((SECONDS / 60)) min $((SECONDS % 60)) s."
