#!/bin/sh
# Takes docs/editor.png: kolmiras on a private X server in a copy of the demo exercise, with a
# sign video and a picture clicked so that both previews show. Run by hand after a build; it
# needs ImageMagick's import, which the build and the tests do not.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
exe=${BUILD_DIR:-$top/build}/editor/kolmiras
[ -x "$exe" ] || { echo "build kolmiras first: $exe" >&2; exit 1; }
command -v import >/dev/null || { echo "needs ImageMagick (import)" >&2; exit 1; }

# On a private X server of the tests' own (xdesktop), bare as the picture wants it.
if [ -z "${PIRVEL_SCREENSHOT_ON_X:-}" ]; then
    xdesktop=${BUILD_DIR:-$top/build}/tests/support/xdesktop
    [ -x "$xdesktop" ] || { echo "build xdesktop first: $xdesktop" >&2; exit 1; }
    PIRVEL_SCREENSHOT_ON_X=1 exec "$xdesktop" none sh "$0" "$@"
fi

# The work folder and its clean-up, as the real-display tests have them.
# shellcheck source=../tests/support/xscript.sh
. "$top/tests/support/xscript.sh"

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
