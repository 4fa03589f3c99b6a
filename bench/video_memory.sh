#!/bin/sh
# What one video costs the quiz: makes phone-like recordings (4K H.264 and HEVC of 8 and 10 bits,
# landscape, held upright with a rotation tag, and stored upright; 8K H.264 and HEVC) and
# crafted ones (sample tables claiming 50 million samples, a stream that grows from 64 x 64 to
# 16384 x 4096), plays each as the first sign of an exercise, offscreen, and prints the quiz's
# peak resident memory and how it ended. Making the clips takes several minutes and some GB.
# Usage: sh bench/video_memory.sh BUILD_DIR [SECONDS]
set -eu
quiz=$(cd "$1" && pwd)/quiz/pirvel
[ -x "$quiz" ] || { echo "no $quiz: build it first" >&2; exit 1; }
secs=${2:-9}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

make() { ffmpeg -hide_banner -loglevel error -y -nostdin "$@"; }
src4k="testsrc2=s=3840x2160:r=30:d=3"
sound="-f lavfi -i sine=d=3"
# shellcheck disable=SC2086
{
    make -f lavfi -i "$src4k" $sound -c:v libx264 -preset faster -pix_fmt yuv420p -c:a aac h264-4k.mp4
    make -f lavfi -i "testsrc2=s=2160x3840:r=30:d=3" $sound -c:v libx264 -preset faster \
        -pix_fmt yuv420p -c:a aac h264-4k-upright.mp4
    make -f lavfi -i "$src4k" $sound -c:v libx265 -preset ultrafast -pix_fmt yuv420p -c:a aac hevc-4k.mp4
    make -f lavfi -i "$src4k" $sound -c:v libx265 -preset ultrafast -pix_fmt yuv420p10le -c:a aac \
        hevc10-4k.mp4
    for clip in h264-4k hevc-4k hevc10-4k; do
        make -i $clip.mp4 -c copy -metadata:s:v:0 rotate=90 $clip-rotated.mp4
    done
    make -f lavfi -i "testsrc2=s=7680x4320:r=30:d=1" $sound -c:v libx264 -preset ultrafast \
        -pix_fmt yuv420p -c:a aac h264-8k.mp4
    make -f lavfi -i "testsrc2=s=7680x4320:r=30:d=1" $sound -c:v libx265 -preset ultrafast \
        -pix_fmt yuv420p -c:a aac hevc-8k.mp4
    make -f lavfi -i "testsrc=s=64x64:r=25:d=1" -c:v libx264 -f mpegts small.ts
    make -f lavfi -i "color=s=16384x4096:r=25,format=yuv420p" -frames:v 2 -c:v libx264 \
        -preset ultrafast -output_ts_offset 1.5 -f mpegts large.ts
    cat small.ts large.ts >growing.ts
    make -f lavfi -i "testsrc=s=64x64:r=25:d=0.4" -c:v libx264 clip.mov
}
# The clip's tables patched to claim 50 million samples of 100 bytes, in one chunk.
python3 - clip.mov claiming.mov <<'EOF'
import struct, sys
b = bytearray(open(sys.argv[1], 'rb').read())
def walk(at, end):
    while at + 8 <= end:
        size, kind = struct.unpack('>I4s', b[at:at + 8])
        if size < 8: return
        if kind in (b'moov', b'trak', b'mdia', b'minf', b'stbl'): walk(at + 8, at + size)
        elif kind == b'stsz': struct.pack_into('>II', b, at + 12, 100, 50000000)
        elif kind == b'stts': struct.pack_into('>III', b, at + 12, 1, 50000000, 512)
        elif kind == b'stsc': struct.pack_into('>IIII', b, at + 12, 1, 1, 50000000, 1)
        at += size
walk(0, len(b))
open(sys.argv[2], 'wb').write(b)
EOF

for clip in h264-4k.mp4 h264-4k-rotated.mp4 h264-4k-upright.mp4 hevc-4k.mp4 hevc-4k-rotated.mp4 \
    hevc10-4k.mp4 hevc10-4k-rotated.mp4 h264-8k.mp4 hevc-8k.mp4 claiming.mov growing.ts; do
    ex="$work/ex-$clip"
    mkdir "$ex"
    cp "$clip" "$ex/"
    for i in 1 2 3 4 5; do
        cp "$top/tests/fixtures/twocolour.avi" "$ex/tecken$i.avi"
        ffmpeg -hide_banner -loglevel error -nostdin -f lavfi -i color=c=red:s=64x64 -frames:v 1 \
            "$ex/bild$i.bmp"
    done
    cp "$top/tests/fixtures/twocolour.mov" "$ex/slut.mov"
    {
        printf '"%s"\r\n"bild1.bmp"\r\n' "$clip"
        for i in 2 3 4 5; do printf '"tecken%s.avi"\r\n"bild%s.bmp"\r\n' "$i" "$i"; done
        printf '1\r\n'
    } >"$ex/pirvel.ini"
    (cd "$ex" && QT_QPA_PLATFORM=offscreen exec "$quiz" >/dev/null 2>"$work/err") &
    pid=$!
    peak=0 t=0
    while kill -0 "$pid" 2>/dev/null && [ "$t" -lt $((secs * 20)) ]; do
        hwm=$(sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$pid/status" 2>/dev/null || true)
        [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
        sleep 0.05
        t=$((t + 1))
    done
    if kill "$pid" 2>/dev/null; then
        ended="still playing after $secs s"
    else
        ended=$(grep -a Körningsfel "$work/err" | tail -1 || true)
    fi
    wait "$pid" 2>/dev/null || true
    printf '%-24s %5d MB  %s\n' "$clip" $((peak / 1024)) "$ended"
done
