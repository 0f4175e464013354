#!/usr/bin/env bash
# Builds the Debian package build/release/kolt_VERSION_amd64.deb (its dependencies
# computed from the programs' libraries) and checks it with lintian.
#   --check  also installs into a temporary prefix and checks the installed tree,
#            then installs the package with its dependencies, runs both programs
#            from PATH and removes the package again (what CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
[ "${1:-}" = "--check" ] && check=1
bash scripts/deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build/release -j "$(nproc)" --target kolt kolt-headless kolt_manual_pages kolt_changelog
rm -f build/release/kolt_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/kolt_*_*.deb)
echo "== $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends
lintian --fail-on error "$deb"
[ $check -eq 1 ] || exit 0

echo "== the installed tree"
bash scripts/check_install.sh build/release

echo "== the package installed on this machine"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -q "./$deb" >/dev/null
trap '$sudo apt-get remove -y -q kolt >/dev/null' EXIT
version=$(cd / && kolt --version)
echo "$version"
[ "$version" = "kolt $(dpkg-deb --field "$deb" Version)" ]
(cd "$(mktemp -d)" && kolt-headless --frames 10 --print-screen | grep -q "NO SYSTEM ROM WAS FOUND")
echo "Package checks passed."
