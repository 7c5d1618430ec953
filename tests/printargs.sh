#!/usr/bin/env bash
# Prints snipora-cut's --print-args (the encoder options, extension and mode) for every
# catalogue entry on three kinds of source, with the qualities and sizes cycled, and both
# direct copies; then --print-ffmpeg (the ffmpeg program's arguments) for every entry on the
# video source. The output is compared with tests/golden/printargs.txt, so that any change of
# the option strings or of the ffmpeg command line is seen in review.
# Usage: printargs.sh SNIPORA_CUT
set -euo pipefail
CUT=$1
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
cd "$DIR"
ff() { ffmpeg -v error -nostdin -y "$@"; }
ff -f lavfi -i testsrc2=s=640x360:r=25:d=4 -f lavfi -i sine=f=440:d=4 \
   -c:v libx264 -preset ultrafast -c:a aac -shortest v.mp4
ff -f lavfi -i testsrc2=s=1280x720:r=30:d=4 -f lavfi -i sine=f=440:d=4 -f lavfi -i sine=f=660:d=4 \
   -map 0 -map 1 -map 2 -c:v libx264 -preset ultrafast -c:a libopus -shortest t.mkv
ff -f lavfi -i sine=f=440:d=4 -c:a libmp3lame a.mp3

qualities=(high normal low)
sizes=(auto 320x240 1280x720 auto 854x480)
n=0
for src in v.mp4 t.mkv a.mp3; do
    echo "== $src --copy"
    "$CUT" "$src" --start 1 --end 3 --copy --print-args
    echo "== $src --keyframe-copy"
    "$CUT" "$src" --start 1 --end 3 --keyframe-copy --print-args
    while IFS=$'\t' read -r id _; do
        vq=${qualities[$((n % 3))]}
        aq=${qualities[$(((n / 3) % 3))]}
        size=${sizes[$((n % 5))]}
        n=$((n + 1))
        echo "== $src --format $id --video-quality $vq --audio-quality $aq --size $size"
        "$CUT" "$src" --start 1.5 --end 3.25 --format "$id" --video-quality "$vq" \
            --audio-quality "$aq" --size "$size" --print-args 2>&1 || echo "exit $?"
    done < <("$CUT" --list-formats)
done
while IFS=$'\t' read -r id _; do
    echo "== v.mp4 --format $id --print-ffmpeg"
    "$CUT" v.mp4 --start 1.5 --end 3.25 --format "$id" --print-ffmpeg 2>&1 | sed "s|$DIR|DIR|g" \
        || echo "exit $?"
done < <("$CUT" --list-formats)
