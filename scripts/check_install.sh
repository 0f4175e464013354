#!/usr/bin/env bash
# Installs a configured build into a temporary prefix and checks what a user's
# desktop will read from it: every file present, the desktop entry, the
# metainfo, the file types, the manual pages and the shell completion.
#   scripts/check_install.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
u="$root/usr"
fail() { echo "check_install: $*" >&2; exit 1; }

for f in bin/kolt bin/kolt-headless \
         share/applications/org.kolt.KOLT.desktop \
         share/metainfo/org.kolt.KOLT.metainfo.xml \
         share/mime/packages/kolt.xml \
         share/icons/hicolor/scalable/apps/kolt.svg \
         share/man/man1/kolt.1.gz share/man/man1/kolt-headless.1.gz \
         share/bash-completion/completions/kolt share/bash-completion/completions/kolt-headless \
         share/kolt/roms/README share/doc/kolt/copyright; do
    [ -s "$u/$f" ] || fail "missing $f"
done
for size in 16 24 32 48 64 128 256; do
    png="$u/share/icons/hicolor/${size}x${size}/apps/kolt.png"
    [ -s "$png" ] || fail "missing the ${size} px icon"
    file "$png" | grep -q "PNG image data, $size x $size" || fail "the ${size} px icon is not $size x $size"
done

desktop-file-validate "$u/share/applications/org.kolt.KOLT.desktop"
appstreamcli validate --no-net "$u/share/metainfo/org.kolt.KOLT.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$u/share/metainfo/org.kolt.KOLT.metainfo.xml"

# The file types: well formed, and read by the MIME database into one type each.
xmllint --noout "$u/share/mime/packages/kolt.xml"
mime="$root/mime"
mkdir -p "$mime/packages"
cp "$u/share/mime/packages/kolt.xml" "$mime/packages/"
out=$(XDG_DATA_HOME="$root" XDG_DATA_DIRS="$root" update-mime-database "$mime" 2>&1)
[ -z "$out" ] || fail "update-mime-database: $out"
for t in x-vz-program x-vz-cassette x-vz-disk x-kolt-state; do
    [ -s "$mime/application/$t.xml" ] || fail "the MIME database has no application/$t"
    grep -q "application/$t" "$u/share/applications/org.kolt.KOLT.desktop" || fail "the desktop entry does not open $t"
done

# The manual pages render without a warning, and name the version.
version=$("$u/bin/kolt-headless" --version | awk '{print $2}')
for page in kolt kolt-headless; do
    warnings=$(MANWIDTH=80 man --warnings -l "$u/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page(1): $warnings"
    MANWIDTH=80 man -l "$u/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "KOLT $version" ||
        fail "$page(1) does not show version $version"
done

# Every option a program lists is completed, and described in its manual page.
for prog in kolt kolt-headless; do
    listed=$("$u/bin/$prog" --help | grep -oE -- '--[a-z][a-z0-9-]+' | sort -u)
    page=$(zcat "$u/share/man/man1/$prog.1.gz" | sed 's/\\-/-/g')
    for opt in $listed; do
        grep -q -- "$opt" "$u/share/bash-completion/completions/$prog" || fail "$prog's completion lacks $opt"
        grep -q -- "$opt" <<<"$page" || fail "$prog(1) lacks $opt"
    done
done
echo "The installed tree is complete."
