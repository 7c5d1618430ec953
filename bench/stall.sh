#!/usr/bin/env bash
# The longest stall of the window's UI thread in each phase of working with a file (bench_stall,
# under Xvfb): 2 min of 1080p25 H.264 with noisy detailed content, and
# 2 min of RealMedia (RV20), whose positions the probe finds by decoding from a key frame.
# The H.264 file is one 2-minute encode: x264's ultrafast preset, to make it in minutes on a
# busy 2-core machine, with B-frames, scene cuts and the default key-frame interval turned back
# on, so that opening, seeking and decoding meet what real files have.
# Usage: bench/stall.sh BUILD_DIR WORKDIR [RUNS]   Prints Markdown tables (RUNS: 5).
# BASE_BUILD=DIR adds the same figures for another build (an earlier commit) beside them.
set -euo pipefail
BUILD=$1; work=$2; RUNS=${3:-5}
h264="$work/1080p-noisy-2min-x264.mp4"
rmvb="$work/360p-2min.rmvb"
gen() { ffmpeg -nostdin -v error -y "$@"; }
[ -f "$h264" ] || gen -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=120,noise=alls=10:allf=t" \
    -f lavfi -i "sine=frequency=440:duration=120" -c:v libx264 -preset ultrafast \
    -x264-params bframes=3:b-adapt=1:b-pyramid=normal:scenecut=40 -pix_fmt yuv420p \
    -c:a aac -shortest "$h264"
# RealMedia packets are at most 64 kB: a key frame of this size and noise stays below that.
[ -f "$rmvb" ] || gen -f lavfi -i "testsrc2=size=640x360:rate=25:duration=120,noise=alls=4:allf=t" \
    -c:v rv20 -b:v 1000k -g 250 -an -f rm "$rmvb"
# "phase<TAB>median<TAB>worst" lines of one build on one file.
stalls() {
    xvfb-run -a -s "-screen 0 1280x800x24" "$1/bin/bench_stall" "$2" "$RUNS" 2>/dev/null
}
for file in "$h264" "$rmvb"; do
    mine=$(stalls "$BUILD" "$file")
    base=""
    [ -z "${BASE_BUILD:-}" ] || base=$(stalls "$BASE_BUILD" "$file")
    echo
    echo "$(basename "$file"), longest UI stall per phase (ms, median of $RUNS runs / worst run):"
    echo
    if [ -n "$base" ]; then
        echo "| Phase | before | after |"
        echo "|---|---|---|"
        join -t $'\t' <(echo "$base" | nl -w1 -s$'\t' | sort) <(echo "$mine" | nl -w1 -s$'\t' | sort) \
            | sort -n | awk -F'\t' '{ printf "| %s | %s / %s | %s / %s |\n", $2, $3, $4, $6, $7 }'
    else
        echo "| Phase | stall |"
        echo "|---|---|"
        echo "$mine" | awk -F'\t' '{ printf "| %s | %s / %s |\n", $1, $2, $3 }'
    fi
done
