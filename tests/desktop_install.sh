#!/bin/sh
# The desktop pieces as installed into a temporary prefix whose path has a space and a non-ASCII
# letter, checked as a desktop uses them (the echo lines), on the X server with a window manager
# that xdesktop gives.
# Usage: xdesktop openbox sh desktop_install.sh BUILD_DIR SOURCE_DIR VERSION
set -eu
build=$1 source=$2 version=$3
# shellcheck source-path=SCRIPTDIR source=support/xscript.sh
. "$(dirname "$0")/support/xscript.sh"

prefix="$work/inst ål"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
    fail "install: $(cat "$work/install.log")"
apps="$prefix/share/applications"

echo "1: desktop entries and metainfo (as installed and with screenshots) pass the validators"
for entry in "$apps"/*.desktop; do
    out=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out" ] || fail "$entry: $out"
done
[ "$(ls "$apps"/*.desktop | wc -l)" = 4 ] || fail "entries: $(ls "$apps")"
appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml ||
    fail "installed metainfo"
cmake -DOUT="$work/screenshots.metainfo.xml" -DVERSION="$version" \
    -DSCREENSHOT_URL=https://example.org/pirvel/docs -P "$source/desktop/metainfo.cmake"
appstreamcli validate --no-net "$work/screenshots.metainfo.xml" || fail "metainfo with screenshots"

echo "2: the file type is read, and pirvel.ini has it, with the quiz as the program opening it"
# Only the prefix and the system: no user's own settings or file types.
XDG_DATA_DIRS="$prefix/share:/usr/share"
XDG_DATA_HOME="$work/data"
XDG_CONFIG_HOME="$work/config"
export XDG_DATA_DIRS XDG_DATA_HOME XDG_CONFIG_HOME
out=$(update-mime-database "$prefix/share/mime" 2>&1) && [ -z "$out" ] ||
    fail "update-mime-database: $out"
fixtures="$source/tests/fixtures/editor"
exercise "-Övning med fem tecken"
rm "$ex/tecken1.avi"
cp "$fixtures/green100.mov" "$ex/tecken1.mov"
cp "$fixtures/green100.mov" "$ex/slut.mov"
ini 0 tecken1.mov tecken2.avi tecken3.avi tecken4.avi tecken5.avi >"$ex/pirvel.ini"
type=$(gio info -a standard::content-type "$ex/pirvel.ini" | sed -n 's/.*content-type: //p')
[ "$type" = application/x-pirvel-exercise ] || fail "pirvel.ini is $type"
gio mime application/x-pirvel-exercise >"$work/handlers"
grep -q "^Default application.*: pirvel-exercise.desktop" "$work/handlers" &&
    grep -q "pirvel-kolmiras.desktop" "$work/handlers" || fail "pirvel.ini: $(cat "$work/handlers")"

echo "3: gio open (a double-click) on pirvel.ini in a folder named with a leading dash, spaces"
echo "   and non-ASCII letters starts the quiz there: its first sign (green; the rest red) shows"
# The quiz must reach this X server even when the tests run offscreen.
unset QT_QPA_PLATFORM
gio open "$ex/pirvel.ini" || fail "gio open"
win=$(shown "^Vilket pirvel" 20)
[ -n "$win" ] || fail "no quiz window"
app_pid=$(xdotool getwindowpid "$win")
eval "$(xdotool getwindowgeometry --shell "$win")"
green=0
for _ in $(seq 20); do
    # Green pixels in the window: the first sign is a flat green clip, while the window, the
    # blue pictures and the red gauge have none.
    green=$(grab "$X" "$Y" "$WIDTH" "$HEIGHT" |
        awk '$1 < 60 && $2 > 90 && $3 < 60 { n++ } END { print n + 0 }')
    [ "$green" -gt 20000 ] && break
    sleep 0.5
done
[ "$green" -gt 20000 ] || fail "the first sign is not on the screen ($green green pixels)"
cwd=$(readlink "/proc/$app_pid/cwd")
[ "$cwd" = "$ex" ] || fail "the quiz runs in $cwd"

kill "$app_pid"

echo "4: folders open in the file manager, never in the kit: with no file manager's entry, none"
echo "   opens them; with one that sorts after every entry of the kit, it does"
mkdir -p "$work/fm/share/applications"
printf '#!/bin/sh\nprintf "%%s" "$1" >"%s/opened"\n' "$work" >"$work/filer"
chmod +x "$work/filer"
XDG_DATA_DIRS="$prefix/share:$work/fm/share"
out=$(gio mime inode/directory 2>&1)
! printf '%s\n' "$out" | grep -q "^Default application\|pirvel" || fail "folders: $out"
printf '[Desktop Entry]\nType=Application\nName=Filer\nExec=%s %%f\nMimeType=inode/directory;\n' \
    "$work/filer" >"$work/fm/share/applications/zz-filer.desktop"
update-desktop-database "$work/fm/share/applications"
out=$(gio mime inode/directory 2>&1)
printf '%s\n' "$out" | grep -q "^Default application.*: zz-filer.desktop" &&
    ! printf '%s\n' "$out" | grep -q pirvel || fail "folders: $out"
gio open "$ex" || fail "gio open on a folder"
for _ in $(seq 40); do [ -s "$work/opened" ] && break; sleep 0.25; done
[ "$(cat "$work/opened")" = "$ex" ] || fail "the folder went to: $(cat "$work/opened" 2>&1)"
! xdotool search --onlyvisible --name "^Pirvel handledarsektion" >/dev/null 2>&1 ||
    fail "the editor opened on a folder"

echo "5: the menu entry asks for the exercise's folder and starts the editor in the one chosen"
grep -q "^Categories=Education;" "$apps/pirvel-kolmiras-meny.desktop" || fail "not in the menu"
mkdir "$work/ny mapp"
gio launch "$apps/pirvel-kolmiras-meny.desktop" || fail "gio launch"
dialog=$(shown "^Kolmiras: välj" 20)
[ -n "$dialog" ] || fail "no folder dialog"
xdotool windowactivate --sync "$dialog" key ctrl+a
xdotool type --delay 20 "$work/ny mapp"
xdotool key Return
win=$(shown "^Pirvel handledarsektion" 20)
[ -n "$win" ] || fail "no editor after the folder was chosen"
app_pid=$(xdotool getwindowpid "$win")
cwd=$(readlink "/proc/$app_pid/cwd")
[ "$cwd" = "$work/ny mapp" ] || fail "the editor runs in $cwd"

echo "PASS ($green green pixels)"
