#!/usr/bin/env bash
# The longest stall of the window's UI thread in each phase of working with a file (bench_stall,
# under Xvfb): 2 min of 1080p25 H.264 with noisy detailed content, x264's default settings, and
# 2 min of RealMedia (RV20), whose positions the probe finds by decoding from a key frame.
# The H.264 file is one 10 s encode (250 frames: x264's default key-frame interval) repeated 12
# times by stream copy: encoding 2 min of noisy 1080p takes an hour on a busy 2-core machine,
# and what is measured (opening, seeking, decoding from key frames) costs the same either way.
# Usage: bench/stall.sh BUILD_DIR WORKDIR [RUNS]   Prints Markdown tables (RUNS: 5).
# BASE_BUILD=DIR adds the same figures for another build (an earlier commit) beside them.
set -euo pipefail
BUILD=$1; work=$2; RUNS=${3:-5}
seg="$work/1080p-noisy-10s.mp4"
h264="$work/1080p-noisy-2min.mp4"
rmvb="$work/360p-2min.rmvb"
gen() { ffmpeg -nostdin -v error -y "$@"; }
[ -f "$seg" ] || gen -f lavfi -i "testsrc2=size=1920x1080:rate=25:duration=10,noise=alls=10:allf=t" \
    -c:v libx264 -pix_fmt yuv420p "$seg"
if [ ! -f "$h264" ]; then
    for _ in $(seq 12); do echo "file '$seg'"; done >"$work/segments.txt"
    gen -f concat -safe 0 -i "$work/segments.txt" -f lavfi -i "sine=frequency=440:duration=120" \
        -map 0:v -map 1:a -c:v copy -c:a aac -shortest "$h264"
fi
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
