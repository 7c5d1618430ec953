#!/usr/bin/env bash
# The timeline of a 2 h 1080p file, in MP4 and in Matroska: a noisy 1-minute H.264/AAC clip
# (x264's scene cuts and default key-frame interval) is encoded once and joined 120 times
# without re-encoding. The files stay in WORKDIR for later runs (about 9 GiB).
# Usage: bench/timeline.sh BUILD_DIR WORKDIR [RUNS]   Prints a Markdown table per file.
set -euo pipefail
BUILD=$1; work=$2; RUNS=${3:-3}
gen() { ffmpeg -nostdin -v error -y "$@"; }
clip="$work/timeline-1min.mp4"
[ -f "$clip" ] || gen -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=60 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 \
    -vf noise=alls=12:allf=t+u -c:v libx264 -preset veryfast -b:v 5M -maxrate 5M -bufsize 10M \
    -pix_fmt yuv420p -c:a aac -b:a 128k -shortest "$clip"
list="$work/timeline-list.txt"
for _ in $(seq 120); do echo "file '$clip'"; done > "$list"
for ext in mp4 mkv; do
    long="$work/timeline-2h.$ext"
    [ -f "$long" ] || gen -f concat -safe 0 -i "$list" -c copy "$long"
    "$BUILD/bin/bench_timeline" "$long" "$RUNS"
    echo
done
