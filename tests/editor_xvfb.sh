#!/bin/sh
# The real kolmiras on an X server with a window manager (run under xdesktop, once for each
# window manager and in a Wayland session), driven with xdotool as a supervisor would, in four
# scenarios (the echo lines); without an X server only the start, a click on the black and
# "Avbryt".
# At every start the window must stand wholly on the screen in front of the black backdrop,
# active, and neither of them with a task-bar button (xdesktop --check).
# Usage: xdesktop WM sh editor_xvfb.sh KOLMIRAS ENOSPC_PRELOAD FIXTURES_DIR XDESKTOP
set -eu
exe=$1 preload=$2 fixtures=$3 xdesktop=$4
# shellcheck source-path=SCRIPTDIR source=support/xscript.sh
. "$(dirname "$0")/support/xscript.sh"

start() {
    # start [VAR=value ...]: kolmiras in the folder $ex; sets app_pid and the client area's
    # place X Y WIDTH HEIGHT. The tests may run offscreen; this program must reach the X server.
    # In a Wayland session it meets what the session sets.
    platform=${PIRVEL_PROGRAM_PLATFORM-xcb}
    (cd "$ex" && exec env -u QT_QPA_PLATFORM ${platform:+QT_QPA_PLATFORM=$platform} "$@" "$exe") \
        >"$work/out" 2>"$work/err" &
    app_pid=$!
    in_front
    [ "$WIDTH" = 634 ] && [ "$HEIGHT" = 455 ] || fail "window is ${WIDTH}x$HEIGHT"
    # Where on the screen is the window manager's choice; it must be wholly there.
    [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1024 ] && [ $((Y + HEIGHT)) -le 768 ] ||
        fail "window at $X,$Y, not on the screen"
}

in_front() {
    # in_front: within 30 s kolmiras stands in front; sets X Y WIDTH HEIGHT
    for _ in $(seq 120); do
        "$xdesktop" --check "$app_pid" "Pirvel handledarsektion" >"$work/place" 2>"$work/front" &&
            break
        sleep 0.25
    done
    [ ! -s "$work/front" ] || fail "not in front: $(cat "$work/front")"
    . "$work/place"
}

# Places in the client area, named after their controls (tst_editorlook checks that each lands
# on its control).
list1_row1="200 89" # List1 at 152,80; rows from 81
file1_row1="40 89"  # File1 at 7,80
file2_row1="376 88" # File2 at 336,79
command3="60 60"    # "Lägg till/Ta bort", sign side
command4="399 60"   # "Lägg till/Ta bort", picture side
command1="508 429"  # "Spara"
command2="589 429"  # "Avbryt"

row() {
    # row "X Y" N: the Nth row of a list whose first row is at X Y; rows are 16 px apart
    echo "${1% *} $((${1#* } + 16 * ($2 - 1)))"
}

click() {
    # click "X Y"...: each place in turn
    for at; do
        point $((X + ${at% *})) $((Y + ${at#* }))
        sleep 0.4
    done
}

await_preview() {
    # await_preview above|below PERCENT: light pixels where MCIWnd1 stands, within 10 s
    for _ in $(seq 50); do
        share=$(grab $((X + 136)) $((Y + 168)) 137 129 |
            awk '{ n++; if (0.299 * $1 + 0.587 * $2 + 0.114 * $3 > 200) l++ }
                 END { print n ? int(100 * l / n) : 0 }')
        [ "$1" = above ] && [ "$share" -gt "$2" ] && return 0
        [ "$1" = below ] && [ "$share" -lt "$2" ] && return 0
        sleep 0.2
    done
    fail "the preview's place is $share% light, not $1 $2%"
}

await_end() {
    # await_end: kolmiras ends within 20 s; sets status
    timeout 20 tail --pid="$app_pid" -f /dev/null || fail "kolmiras did not end"
    status=0
    wait "$app_pid" || status=$?
    app_pid=
}

saved() {
    # saved FLAG SIGN...: kolmiras has ended with status 0, having saved these pairs
    await_end
    [ "$status" = 0 ] || fail "kolmiras ended with status $status: $(cat "$work/err")"
    ini "$@" >"$work/expected.ini"
    cmp "$ex/pirvel.ini" "$work/expected.ini" || fail "pirvel.ini: $(od -c "$ex/pirvel.ini")"
}

dismiss() {
    # dismiss the box titled $1 with Enter
    box=$(shown "^$1\$" 10)
    [ -n "$box" ] || fail "no box titled $1: $(cat "$work/err")"
    xdotool windowfocus --sync "$box" key Return
    sleep 0.5
    ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || fail "box $1 is still open"
}

exercise exercise 1
cp "$ex/pirvel.ini" "$work/original.ini"
od -c "$ex/pirvel.ini" | tail -3 | head -2 | grep -q '1  \\r  \\n' || fail "fixture pirvel.ini"

echo "1: a click on the black, a minimise; remove a sign, Spara refused with Fel, add a video, Spara"
start
point $((X / 2)) $((Y + 200))
in_front
if [ -z "${DISPLAY:-}" ]; then
    echo "without an X server: Avbryt"
    click "$command2"
    saved 1 tecken1.avi tecken2.avi tecken3.avi tecken4.avi tecken5.avi
    echo "PASS"
    exit 0
fi
xdotool search --all --onlyvisible --pid "$app_pid" --name "^Pirvel handledar" windowminimize
sleep 0.5
in_front
click "$(row "$list1_row1" 2)" "$command3" "$command1"
dismiss Fel
cmp -s "$ex/pirvel.ini" "$work/original.ini" || fail "Fel changed pirvel.ini"
kill -0 "$app_pid" || fail "kolmiras ended at Fel"
click "$file1_row1" "$command3" "$command1"
saved 1 tecken1.avi tecken3.avi tecken4.avi tecken5.avi ny.mov
grep -q "Fel: " "$work/err" && fail "Fel went to stderr, not a box"

echo "2: Spara with writes in the folder failing as on a full disk: told why, nothing lost"
cp "$work/original.ini" "$ex/pirvel.ini"
ls -a "$ex" >"$work/before.ls"
start LD_PRELOAD="$preload" ENOSPC_DIR="$ex" ENOSPC_AFTER=40
click "$command1"
dismiss Fel
kill -0 "$app_pid" || fail "kolmiras ended at a failed save: $(cat "$work/err")"
cmp "$ex/pirvel.ini" "$work/original.ini" || fail "a failed save changed pirvel.ini"
ls -a "$ex" | cmp -s - "$work/before.ls" || fail "a failed save left files: $(ls -a "$ex")"
click "$command2"
await_end
[ "$status" = 0 ] || fail "Avbryt after a failed save ended with status $status"

echo "3: a new, empty folder: five videos and five pictures copied in while the editor runs"
echo "   appear in the lists and are picked"
exercise filer
files=$ex
mkdir "$work/ny"
ex=$(cd "$work/ny" && pwd -P)
start
cp "$files"/* "$ex/"
for left in 7 336; do
    # Ink in the fifth row of each file list.
    for _ in $(seq 40); do
        ink=$(grab $((X + left + 4)) $((Y + 81 + 16 * 4)) 100 14 |
            awk '0.299 * $1 + 0.587 * $2 + 0.114 * $3 < 100 { n++ } END { print n + 0 }')
        [ "$ink" -gt 20 ] && break
        sleep 0.25
    done
    [ "$ink" -gt 20 ] || fail "the files copied in are not listed ($ink dark pixels at x $left)"
done
for r in 1 2 3 4 5; do
    click "$(row "$file1_row1" $r)" "$command3" "$(row "$file2_row1" $r)" "$command4"
done
click "$command1"
saved 0 tecken1.avi tecken2.avi tecken3.avi tecken4.avi tecken5.avi

echo "4: mend an exercise whose third sign is gone: its preview's place says why"
exercise lagad 1
rm "$ex/tecken3.avi"
start
await_preview below 20
click "$(row "$list1_row1" 3)"
await_preview above 70
kill -0 "$app_pid" 2>/dev/null || fail "kolmiras ended at the missing sign: $(cat "$work/err")"
click "$command3" "$file1_row1"
await_preview below 20
click "$command3" "$command1"
saved 1 tecken1.avi tecken2.avi tecken4.avi tecken5.avi ny.mov

echo "PASS"
