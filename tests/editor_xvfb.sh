#!/bin/sh
# The real kolmiras on an X server with a window manager (run under xdesktop, once for each
# window manager), driven with xdotool as a supervisor would:
#   0. the window stands in front of the black backdrop, active, and neither of them has a
#      task-bar button (xdesktop --check);
#   1. remove a sign, "Spara" shows "Fel" and writes nothing, OK, add a video, "Spara" writes
#      pirvel.ini and the program ends with status 0;
#   2. with writes in the folder failing as on a full disk (enospc_preload), "Spara" gives the
#      run-time error report, the program ends non-zero and pirvel.ini is byte for byte as before;
#   3. in a folder without pirvel.ini, pick five videos and five pictures, "Spara" makes it;
#   4. mend an exercise whose third sign is gone: click it (the preview's place says why),
#      remove it, add another video, "Spara".
# Usage: xdesktop WM sh editor_xvfb.sh KOLMIRAS ENOSPC_PRELOAD FIXTURES_DIR XDESKTOP
set -eu
exe=$1 preload=$2 fixtures=$3 xdesktop=$4
[ -n "${DISPLAY:-}" ] || { echo "FAIL: no DISPLAY; run under xdesktop" >&2; exit 1; }

work=$(mktemp -d)
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

media_folder() {
    # media_folder NAME: a folder of five signs and five pictures; sets ex
    ex="$work/$1"
    mkdir "$ex"
    ex=$(cd "$ex" && pwd -P)
    for i in 1 2 3 4 5; do
        cp "$fixtures/red200.avi" "$ex/tecken$i.avi"
        cp "$fixtures/blue80x20.gif" "$ex/bild$i.gif"
    done
}

media_folder exercise
cp "$fixtures/green100.mov" "$ex/ny.mov"

ini() {
    # pirvel.ini from ten names and a flag, in the exact format
    out=
    for name in "$@"; do
        out="$out\"$name\"\r\n"
    done
    printf "%b" "$out" | sed '$s/^"\(.*\)"\r$/\1\r/'
}
ini tecken1.avi bild1.gif tecken2.avi bild2.gif tecken3.avi bild3.gif tecken4.avi bild4.gif \
    tecken5.avi bild5.gif 1 >"$ex/pirvel.ini"
cp "$ex/pirvel.ini" "$work/original.ini"
od -c "$ex/pirvel.ini" | tail -3 | head -2 | grep -q '1  \\r  \\n' || fail "fixture pirvel.ini"

start() {
    # start [VAR=value ...]: kolmiras in the exercise folder; sets app_pid, win, X and Y
    # The test may run under QT_QPA_PLATFORM=offscreen; this program must reach the X server.
    (cd "$ex" && exec env QT_QPA_PLATFORM=xcb "$@" "$exe") >"$work/out" 2>"$work/err" &
    app_pid=$!
    win=$(timeout 20 xdotool search --sync --onlyvisible --name "^Pirvel handledarsektion" | head -1)
    [ -n "$win" ] || fail "no editor window"
    # The client area's place on the screen (xdotool tells the frame's under some managers).
    geometry=$(xwininfo -id "$win")
    X=$(echo "$geometry" | sed -n 's/.*Absolute upper-left X: *//p')
    Y=$(echo "$geometry" | sed -n 's/.*Absolute upper-left Y: *//p')
    WIDTH=$(echo "$geometry" | sed -n 's/.*Width: *//p')
    HEIGHT=$(echo "$geometry" | sed -n 's/.*Height: *//p')
    [ "$WIDTH" = 634 ] && [ "$HEIGHT" = 455 ] || fail "window is ${WIDTH}x$HEIGHT"
    # Where on the screen is the window manager's choice; it must be wholly there.
    [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1024 ] && [ $((Y + HEIGHT)) -le 768 ] ||
        fail "window at $X,$Y, not on the screen"
    tries=0
    until "$xdesktop" --check "$app_pid" "Pirvel handledarsektion" 2>"$work/front"; do
        tries=$((tries + 1))
        [ $tries -lt 80 ] || fail "not in front: $(cat "$work/front")"
        sleep 0.25
    done
}

click() {
    # click X Y in the editor's client area
    xdotool mousemove $((X + $1)) $((Y + $2)) click 1
    sleep 0.4
}

# Places from the window layout, in pixels inside the client area.
list1_row2="200 105"   # List1 at 152,80; rows 16 px from 81
file1_row1="40 89"     # File1 at 7,80
command3="60 60"       # "Lägg till/Ta bort", sign side
command4="399 60"      # "Lägg till/Ta bort", picture side
command1="508 429"     # "Spara"
file1_row() { echo 40 $((89 + 16 * $1)); }
file2_row() { echo 376 $((88 + 16 * $1)); } # File2 at 336,79
list1_row() { echo 200 $((89 + 16 * $1)); }
sign_preview="136 168 137 129" # where MCIWnd1 stands

light_share() {
    # light_share X Y W H: percent of near-white pixels in that part of the client area
    ffmpeg -loglevel error -f x11grab -video_size "$3x$4" -i "$DISPLAY+$((X + $1)),$((Y + $2))" \
        -frames:v 1 -pix_fmt gray -f rawvideo - |
        od -An -v -tu1 | tr -s ' ' '\n' |
        awk 'NF { n++; if ($1 > 200) l++ } END { print n ? int(100 * l / n) : 0 }'
}

await_light() {
    # await_light above|below PERCENT X Y W H: within 10 s, or fail
    for _ in $(seq 50); do
        share=$(light_share "$3" "$4" "$5" "$6")
        if [ "$1" = above ]; then [ "$share" -gt "$2" ] && return 0; fi
        if [ "$1" = below ]; then [ "$share" -lt "$2" ] && return 0; fi
        sleep 0.2
    done
    fail "the preview's place is $share% light, not $1 $2%"
}

await_end() {
    # sets status to that of kolmiras once it has ended (within 20 s)
    for _ in $(seq 200); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$app_pid" 2>/dev/null && fail "kolmiras did not end"
    status=0
    wait "$app_pid" || status=$?
    app_pid=
}

dismiss() {
    # dismiss the box titled $1 with Enter
    box=$(timeout 10 xdotool search --sync --onlyvisible --name "^$1\$" | head -1)
    [ -n "$box" ] || fail "no box titled $1"
    xdotool windowfocus --sync "$box" key Return
    sleep 0.5
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 && fail "box $1 is still open"
    true
}

echo "1: remove, Spara refused, add, Spara"
start
# shellcheck disable=SC2086
click $list1_row2
# shellcheck disable=SC2086
click $command3
# shellcheck disable=SC2086
click $command1
dismiss Fel
cmp -s "$ex/pirvel.ini" "$work/original.ini" || fail "Fel changed pirvel.ini"
kill -0 "$app_pid" || fail "kolmiras ended at Fel"
# shellcheck disable=SC2086
click $file1_row1
# shellcheck disable=SC2086
click $command3
# shellcheck disable=SC2086
click $command1
await_end
[ "$status" = 0 ] || fail "kolmiras ended with status $status after Spara"
ini tecken1.avi bild1.gif tecken3.avi bild2.gif tecken4.avi bild3.gif tecken5.avi bild4.gif \
    ny.mov bild5.gif 1 >"$work/expected.ini"
cmp "$ex/pirvel.ini" "$work/expected.ini" || fail "saved pirvel.ini differs: $(od -c "$ex/pirvel.ini")"
grep -q "Fel: " "$work/err" && fail "Fel went to stderr, not a box"

echo "2: Spara on a full disk"
cp "$work/original.ini" "$ex/pirvel.ini"
ls -a "$ex" >"$work/before.ls"
start LD_PRELOAD="$preload" ENOSPC_DIR="$ex" ENOSPC_AFTER=40
# shellcheck disable=SC2086
click $command1
dismiss KOLMIRAS
await_end
[ "$status" != 0 ] || fail "kolmiras ended with status 0 after a failed save"
grep -q "Körningsfel" "$work/err" || fail "no run-time error report on stderr: $(cat "$work/err")"
cmp "$ex/pirvel.ini" "$work/original.ini" || fail "a failed save changed pirvel.ini"
ls -a "$ex" | cmp -s - "$work/before.ls" || fail "a failed save left files: $(ls -a "$ex")"

new_exercise() {
    echo "3: a new exercise in a folder without pirvel.ini"
    media_folder ny
    start
    for row in 0 1 2 3 4; do
        # shellcheck disable=SC2046
        click $(file1_row $row)
        # shellcheck disable=SC2086
        click $command3
        # shellcheck disable=SC2046
        click $(file2_row $row)
        # shellcheck disable=SC2086
        click $command4
    done
    # shellcheck disable=SC2086
    click $command1
    await_end
    [ "$status" = 0 ] || fail "kolmiras ended with status $status: $(cat "$work/err")"
    ini tecken1.avi bild1.gif tecken2.avi bild2.gif tecken3.avi bild3.gif tecken4.avi bild4.gif \
        tecken5.avi bild5.gif 0 >"$work/expected.ini"
    cmp "$ex/pirvel.ini" "$work/expected.ini" || fail "new pirvel.ini: $(od -c "$ex/pirvel.ini")"
}

mend_stale() {
    echo "4: mend an exercise whose third sign is gone"
    media_folder lagad
    cp "$fixtures/green100.mov" "$ex/ny.mov"
    ini tecken1.avi bild1.gif tecken2.avi bild2.gif tecken3.avi bild3.gif tecken4.avi bild4.gif \
        tecken5.avi bild5.gif 1 >"$ex/pirvel.ini"
    rm "$ex/tecken3.avi"
    start
    # shellcheck disable=SC2086
    await_light below 20 $sign_preview
    # shellcheck disable=SC2046
    click $(list1_row 2)
    # shellcheck disable=SC2086
    await_light above 70 $sign_preview
    kill -0 "$app_pid" 2>/dev/null || fail "kolmiras ended at the missing sign: $(cat "$work/err")"
    # shellcheck disable=SC2086
    click $command3
    # shellcheck disable=SC2046
    click $(file1_row 0)
    # shellcheck disable=SC2086
    await_light below 20 $sign_preview
    # shellcheck disable=SC2086
    click $command3
    # shellcheck disable=SC2086
    click $command1
    await_end
    [ "$status" = 0 ] || fail "kolmiras ended with status $status: $(cat "$work/err")"
    ini tecken1.avi bild1.gif tecken2.avi bild2.gif tecken4.avi bild3.gif tecken5.avi bild4.gif \
        ny.mov bild5.gif 1 >"$work/expected.ini"
    cmp "$ex/pirvel.ini" "$work/expected.ini" || fail "mended pirvel.ini: $(od -c "$ex/pirvel.ini")"
}

new_exercise
mend_stale

echo "PASS"
