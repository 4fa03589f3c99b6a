# shellcheck shell=sh
# Sourced by the shell tests of the real programs, which run under xdesktop: a work folder that
# goes when the test ends, together with the program started into app_pid; fail; exercises
# made of the clips in $fixtures; a shown window, a screen grab and a click.
# The screen the user sees, where clicks go: in a Wayland session the compositor's.
screen=${PIRVEL_SCREEN_DISPLAY:-${DISPLAY:-}}
[ -n "$screen" ] || { echo "FAIL: no DISPLAY; run under xdesktop" >&2; exit 1; }
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

shown() {
    # shown NAME SECONDS: the first visible window whose name matches NAME, waiting up to SECONDS.
    # xdotool stops with BadWindow when a window closes while it searches (a dialog going as
    # the next window comes), so it only looks again.
    tries=$(($2 * 4))
    while [ "$tries" -gt 0 ]; do
        w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
        [ -n "$w" ] && { echo "$w"; return 0; }
        tries=$((tries - 1))
        sleep 0.25
    done
}

grab() {
    # grab X Y W H: that part of the screen, a pixel a line as its decimal R G B
    ffmpeg -loglevel error -f x11grab -video_size "$3x$4" -i "$screen+$1,$2" -frames:v 1 \
        -f rawvideo -pix_fmt rgb24 - | od -An -v -tu1 -w3
}

point() {
    # point X Y: a click there on the screen
    DISPLAY=$screen xdotool mousemove "$1" "$2" click 1
}

ini() {
    # ini FLAG SIGN...: pirvel.ini as the editor writes it, the signs paired with bild1.gif...
    flag=$1 i=0
    shift
    for sign; do
        i=$((i + 1))
        printf '"%s"\r\n"bild%s.gif"\r\n' "$sign" "$i"
    done
    printf '%s\r\n' "$flag"
}

exercise() {
    # exercise NAME [FLAG]: a folder of five signs and five pictures, with a pirvel.ini of
    # the five pairs and ny.mov waiting when FLAG is given; sets ex
    mkdir "$work/$1"
    ex=$(cd "$work/$1" && pwd -P)
    for i in 1 2 3 4 5; do
        cp "$fixtures/red200.avi" "$ex/tecken$i.avi"
        cp "$fixtures/blue80x20.gif" "$ex/bild$i.gif"
    done
    [ $# = 1 ] && return
    cp "$fixtures/green100.mov" "$ex/ny.mov"
    ini "$2" tecken1.avi tecken2.avi tecken3.avi tecken4.avi tecken5.avi >"$ex/pirvel.ini"
}
