#!/bin/sh
# The Debian package as a school's IT department takes it: built by cpack from the build, it
# passes lintian without errors or warnings, its binaries are stripped and their debug symbols
# are in the -dbgsym package beside it.
# Usage: sh package_lintian.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/pirvel_*.deb)
ddeb=$(ls "$work"/pirvel-dbgsym_*.ddeb)
lintian --fail-on error,warning --tag-display-limit 0 "$deb" "$ddeb"
for exe in usr/bin/pirvel usr/bin/kolmiras usr/libexec/pirvel/choose-folder; do
    dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./$exe" >"$work/exe"
    ! readelf -S "$work/exe" | grep -q "\.debug_info\|\.symtab" || { echo "FAIL: $exe is not stripped"; exit 1; }
done
dpkg-deb -c "$ddeb" | grep -q "/usr/lib/debug/.build-id/.*\.debug$" ||
    { echo "FAIL: no debug symbols in $ddeb"; exit 1; }
echo PASS
