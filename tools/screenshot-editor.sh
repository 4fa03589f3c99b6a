#!/bin/sh
# Takes docs/editor.png: kolmiras on a private X server in a copy of the demo exercise, with a
# sign video and a picture clicked so that both previews show. Run by hand after a build; it
# needs ImageMagick's import, which the build and the tests do not.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
exe=${BUILD_DIR:-$top/build}/editor/kolmiras
[ -x "$exe" ] || { echo "build kolmiras first: $exe" >&2; exit 1; }
command -v import >/dev/null || { echo "needs ImageMagick (import)" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
DISPLAY=:$(cat "$work/display")
export DISPLAY

cp -r "$top/demo" "$work/exercise"
(cd "$work/exercise" && QT_QPA_PLATFORM=xcb exec "$exe") >/dev/null 2>&1 &
app_pid=$!
win=$(timeout 20 xdotool search --sync --onlyvisible --name "^Pirvel handledarsektion" | head -1)
eval "$(xdotool getwindowgeometry --shell "$win")"

# The second video and the first picture of the file lists (rows 16 px from y 81).
xdotool mousemove $((X + 40)) $((Y + 105)) click 1
xdotool mousemove $((X + 380)) $((Y + 89)) click 1
sleep 1.5
import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$top/docs/editor.png"
echo "wrote $top/docs/editor.png"
