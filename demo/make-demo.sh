#!/bin/sh
# Makes the demo exercise in this folder: five sign videos drawn as a signer whose hands trace
# the thing, five pictures of the things, the closing video "slut.mov" and the pairing file.
# The results are committed, so only someone changing the demo runs this (it needs ffmpeg and
# ImageMagick's convert). Every file is drawn here from nothing; no outside media is used.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fps=25
frames=50 # two seconds
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

# One MVG drawing per frame, each starting with a "#frame" line. awk does the arithmetic of the
# paths; convert does the drawing.
cat >"$work/signer.awk" <<'AWK'
function clamp(v) { return v < 0 ? 0 : (v > 1 ? 1 : v) }
function ease(t) { return (1 - cos(PI * clamp(t))) / 2 }
function rad(d) { return d * PI / 180 }

# Where a hand is at progress u of the sign: sets X, Y and A (the way the fingers point, in
# degrees clockwise from straight up). side is -1 for the hand on the viewer's left, +1 right.
function place(side, u,    th, w) {
    if (sign == "sol") {
        th = rad(-90 + side * 180 * u)
        X = 160 + 64 * cos(th); Y = 100 + 64 * sin(th); A = th * 180 / PI + 90
    } else if (sign == "hus") {
        if (u < 0.5) { X = 160 + side * 150 * u; Y = 36 + 150 * u }
        else { X = 160 + side * 75; Y = 111 + 160 * (u - 0.5) }
        w = clamp((u - 0.4) / 0.2)
        A = -35 * side * (1 - w)
    } else if (sign == "bil") {
        th = 35 * sin(2 * PI * 1.5 * u)
        X = 160 + side * 50 * cos(rad(th)); Y = 150 + side * 50 * sin(rad(th)); A = th
    } else if (sign == "fisk") {
        if (side < 0) { X = 96; Y = 300; A = 20; return }
        X = 70 + 190 * u; Y = 140 + 18 * sin(4 * PI * u)
        A = 90 + atan2(18 * 4 * PI * cos(4 * PI * u), 190) * 180 / PI + 12 * sin(10 * PI * u)
    } else if (sign == "trad") {
        if (side < 0) { X = 222; Y = 206; A = 90; return }
        if (u < 0.45) { X = 236; Y = 196 - 96 * u / 0.45; A = 0 }
        else {
            th = rad(90 - 360 * (u - 0.45) / 0.55)
            X = 236 + 32 * cos(th); Y = 68 + 32 * sin(th); A = th * 180 / PI + 90
        }
    }
}

function hand(x, y, a, mirror) {
    printf "push graphic-context\ntranslate %.1f,%.1f\nrotate %.1f\nscale %d,1\n", x, y, a, mirror
    print "stroke '#6b3e1c' stroke-width 2 fill '#f2c48d'"
    print "push graphic-context\ntranslate -12,4\nrotate -55"
    print "roundrectangle -4,-24 4,0 4,4\npop graphic-context"
    print "roundrectangle -14,-34 -8,-6 3,3"
    print "roundrectangle -7,-40 -1,-6 3,3"
    print "roundrectangle 0,-38 6,-6 3,3"
    print "roundrectangle 7,-31 13,-6 3,3"
    print "roundrectangle -15,-12 14,16 7,7"
    print "pop graphic-context"
}

function arm(sx, sy, x, y) {
    printf "stroke '#333333' stroke-width 20 stroke-linecap round fill none\n"
    printf "line %d,%d %.1f,%.1f\n", sx, sy, x, y
    printf "stroke '%s' stroke-width 16\n", shirt
    printf "line %d,%d %.1f,%.1f\n", sx, sy, x, y
}

function signer() {
    printf "fill '%s' stroke none rectangle 0,0 320,240\n", ground
    printf "fill '%s' stroke '#333333' stroke-width 2 roundrectangle 98,104 222,280 34,34\n", shirt
    print "fill '#f2c48d' stroke '#6b3e1c' stroke-width 2 circle 160,62 160,88"
    print "fill '#4a2c12' stroke none path 'M 134,58 Q 136,30 160,32 Q 186,30 186,58 Q 172,42 134,58 Z'"
    print "fill '#222222' stroke none circle 151,62 151,65 circle 169,62 169,65"
    print "fill none stroke '#6b3e1c' stroke-width 2 path 'M 150,74 Q 160,82 170,74'"
}

# The part of the traced shape already drawn at progress u.
function trace(u,    i, s, steps, side) {
    printf "fill none stroke '%s' stroke-width 6 stroke-linecap round stroke-linejoin round\n", ink
    if (sign == "bil") {
        print "circle 160,150 160,200"
        for (i = 0; i < 3; ++i) {
            s = rad(35 * sin(2 * PI * 1.5 * u) + 90 + 120 * i)
            printf "line 160,150 %.1f,%.1f\n", 160 + 50 * cos(s), 150 + 50 * sin(s)
        }
        return
    }
    steps = 60
    for (side = -1; side <= 1; side += 2) {
        if (sign == "fisk" && side < 0) continue
        if (sign == "trad" && side < 0) continue
        if (sign == "trad" && u > 0.45) {
            printf "stroke '%s' stroke-width 10 line 236,196 236,100\n", ink
            printf "stroke '%s' stroke-width 12 polyline", leaf
            for (i = 0; i <= steps; ++i) {
                s = 0.45 + (u - 0.45) * i / steps
                place(side, s); printf " %.1f,%.1f", X, Y
            }
            print ""
            continue
        }
        if (sign == "trad") printf "stroke-width 10\n"
        printf "polyline"
        for (i = 0; i <= steps; ++i) { place(side, u * i / steps); printf " %.1f,%.1f", X, Y }
        print ""
    }
}

# What the finished sign leaves behind while the hands rest.
function flourish(k,    i, s) {
    if (sign == "sol") {
        printf "fill none stroke '%s' stroke-width 5 stroke-linecap round\n", ink
        for (i = 0; i < 8; ++i) {
            s = rad(45 * i + 22.5)
            printf "line %.1f,%.1f %.1f,%.1f\n", 160 + 74 * cos(s), 100 + 74 * sin(s),
                160 + (74 + 2 * k) * cos(s), 100 + (74 + 2 * k) * sin(s)
        }
    } else if (sign == "trad") {
        printf "fill '%s' stroke none circle 236,68 236,%d\n", leaf, 68 + 4 * k
    }
}

BEGIN {
    PI = atan2(0, -1)
    split(colours, c, " "); ground = c[1]; shirt = c[2]; ink = c[3]; leaf = c[4]
    for (f = 0; f < n; ++f) {
        u = ease((f - 5) / (n - 14))
        printf "#frame %03d\nviewbox 0 0 320 240\n", f
        signer()
        trace(u)
        if (f >= n - 9) flourish(f - (n - 9) + 1)
        place(-1, u); arm(112, 124, X, Y); hand(X, Y, A, -1)
        place(1, u); arm(208, 124, X, Y); hand(X, Y, A, 1)
    }
}
AWK

# The closing video: a smiling face that bounces among twinkling stars over "Bra gjort!".
cat >"$work/closing.awk" <<'AWK'
function star(cx, cy, R, r, turn,    i, a) {
    printf "polygon"
    for (i = 0; i < 10; ++i) {
        a = (turn + 36 * i - 90) * PI / 180
        printf " %.1f,%.1f", cx + (i % 2 ? r : R) * cos(a), cy + (i % 2 ? r : R) * sin(a)
    }
    print ""
}
BEGIN {
    PI = atan2(0, -1)
    split("40,40 280,36 34,150 286,140 90,110 232,96 160,20", spots, " ")
    for (f = 0; f < n; ++f) {
        printf "#frame %03d\n", f
        print "viewbox 0 0 320 240\nfill '#1d2b6b' stroke none rectangle 0,0 320,240"
        for (i = 1; i <= 7; ++i) {
            split(spots[i], p, ",")
            R = 9 + 5 * sin(2 * PI * f / 25 + i)
            print "fill '#ffe14d' stroke '#fff6c0' stroke-width 1"
            star(p[1], p[2], R, R * 0.45, 6 * f + 40 * i)
        }
        y = 100 - 12 * (f < 25 ? sin(PI * f / 25) : 0)
        s = f < 10 ? 0.3 + 0.7 * f / 10 : 1
        printf "push graphic-context\ntranslate 160,%.1f\nscale %.2f,%.2f\n", y, s, s
        print "fill '#ffd21f' stroke '#c07a00' stroke-width 3 circle 0,0 0,52"
        print "fill '#222222' stroke none ellipse -18,-14 6,9 0,360 ellipse 18,-14 6,9 0,360"
        print "fill none stroke '#222222' stroke-width 5 stroke-linecap round path 'M -26,10 Q 0,38 26,10'"
        print "fill '#ff9c9c' stroke none circle -32,10 -32,17 circle 32,10 32,17"
        print "pop graphic-context"
        if (f >= 8) printf "fill '#ffffff' stroke '#1d2b6b' stroke-width 1 font '%s' font-size 34 text 72,214 'Bra gjort!'\n", font
    }
}
AWK

# draw NAME AWKSCRIPT [awk assignments...]: renders the frames of one video into $work/NAME.
draw() {
    name=$1 script=$2
    shift 2
    mkdir -p "$work/$name"
    awk -v n="$frames" -v font="$font" "$@" -f "$script" |
        awk -v dir="$work/$name" '/^#frame/ { out = dir "/" $2 ".mvg"; next } { print > out }'
    for mvg in "$work/$name"/*.mvg; do
        convert -size 320x240 "mvg:$mvg" -alpha off -depth 8 "${mvg%.mvg}.png"
    done
}

# sign NAME COLOURS: the signer tracing NAME, in the ground, shirt, ink and leaf colours given.
# The tree is called "trad" only inside this script, where plain ASCII names are simpler.
sign() {
    draw "$1" "$work/signer.awk" -v sign="$1" -v colours="$2"
}

sign sol '#fff2b3 #f0b000 #ff8c00 #ff8c00'
sign hus '#ffd9d2 #c62828 #5a0d0d #5a0d0d'
sign bil '#d6e6ff #1e5bd6 #1a1a1a #1a1a1a'
sign fisk '#d4f5d0 #2e9e3a #0d3b66 #0d3b66'
sign trad '#eee0c6 #8a5a2b #5b3413 #2f8f2f'
draw slut "$work/closing.awk"

# encode NAME OUTPUT CODEC-OPTIONS...: frames to a video with no audio track.
encode() {
    name=$1 output=$2
    shift 2
    ffmpeg -loglevel error -y -framerate "$fps" -i "$work/$name/%03d.png" -an "$@" \
        "$here/$output"
}

# One container and codec per format the programs offer, each one that libmpv plays.
encode sol sol.avi -c:v mpeg4 -q:v 5 -pix_fmt yuv420p
encode hus hus.mov -c:v libx264 -preset slow -crf 24 -pix_fmt yuv420p -movflags +faststart
encode bil bil.mpg -f mpeg -c:v mpeg1video -q:v 5
encode fisk fisk.mpeg -f vob -c:v mpeg2video -q:v 5 -pix_fmt yuv420p
encode trad "träd.avi" -c:v mjpeg -q:v 6 -pix_fmt yuvj420p
encode slut slut.mov -c:v libx264 -preset slow -crf 24 -pix_fmt yuv420p -movflags +faststart

# The pictures: one thing each, in its own colour and shape, in every format the programs offer.
convert -size 200x200 xc:'#bfe6ff' \
    -fill '#ffd400' -stroke '#ff9a00' -strokewidth 6 \
    -draw 'line 100,14 100,186 line 14,100 186,100 line 39,39 161,161 line 39,161 161,39' \
    -strokewidth 4 -draw 'circle 100,100 100,52' \
    -fill '#7a4a00' -stroke none -draw 'circle 84,92 84,98 circle 116,92 116,98' \
    -fill none -stroke '#7a4a00' -strokewidth 5 -draw 'arc 76,96 124,128 20,160' \
    -quality 90 "$here/sol.jpg"

convert -size 160x160 xc:'#cfeeff' \
    -fill '#4caf50' -draw 'rectangle 0,136 160,160' \
    -fill '#d32f2f' -stroke '#7f1010' -strokewidth 3 -draw 'rectangle 32,72 128,140' \
    -fill '#8b1a1a' -draw 'polygon 18,76 80,22 142,76' \
    -fill '#6d3b12' -draw 'rectangle 70,100 92,140' \
    -fill '#fff59d' -draw 'rectangle 40,86 62,106 rectangle 100,86 122,106' \
    -colors 16 "$here/hus.gif"

convert -size 128x128 xc:white \
    -fill '#1565c0' -stroke '#0b2f66' -strokewidth 2 \
    -draw 'roundrectangle 8,62 120,94 10,10' -draw 'polygon 30,64 44,38 86,38 104,64' \
    -fill '#bfe3ff' -draw 'polygon 38,62 48,44 64,44 64,62 polygon 70,62 70,44 84,44 96,62' \
    -fill '#222222' -draw 'circle 34,96 34,110 circle 96,96 96,110' \
    -fill '#bdbdbd' -stroke none -draw 'circle 34,96 34,102 circle 96,96 96,102' \
    -fill '#ffeb3b' -draw 'rectangle 112,68 120,76' \
    -type Palette -compress None "BMP3:$here/bil.bmp"

convert -size 200x150 xc:'#b3e5fc' \
    -fill '#2e9e3a' -stroke '#145a1e' -strokewidth 3 \
    -draw 'ellipse 92,75 62,34 0,360' -draw 'polygon 146,75 190,40 184,75 190,110' \
    -draw 'polygon 70,44 100,18 112,46' \
    -fill white -draw 'circle 56,66 56,76' -fill black -stroke none -draw 'circle 54,66 54,71' \
    -fill none -stroke '#145a1e' -strokewidth 3 -draw 'arc 70,48 110,102 300,60' \
    -fill white -stroke '#5aa9d6' -strokewidth 2 -draw 'circle 20,40 20,46 circle 30,22 30,26' \
    -quality 90 "$here/fisk.jpeg"

convert -size 160x160 xc:'#e8f6ff' \
    -fill '#8bc34a' -draw 'rectangle 0,140 160,160' \
    -fill '#7b4a1e' -stroke '#4a2a0e' -strokewidth 3 -draw 'polygon 68,150 72,80 88,80 92,150' \
    -fill '#2e8b2e' -stroke '#175217' \
    -draw 'circle 80,56 80,20 circle 50,72 50,46 circle 110,72 110,46' \
    -fill '#d32f2f' -stroke none -draw 'circle 60,58 60,63 circle 98,48 98,53 circle 104,82 104,87' \
    -quality 90 "$here/träd.jpg"

# The pairing file as the editor writes it: Windows-1252 ("ä" is the byte E4), CR LF line ends,
# ten quoted names, sign then picture, pair 1 first, and the hide flag.
printf '"%s"\r\n' sol.avi sol.jpg hus.mov hus.gif bil.mpg bil.bmp fisk.mpeg fisk.jpeg \
    "tr$(printf '\344')d.avi" "tr$(printf '\344')d.jpg" >"$here/pirvel.ini"
printf '1\r\n' >>"$here/pirvel.ini"
