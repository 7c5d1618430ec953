#!/usr/bin/env bash
# Runs every benchmark on media generated here and prints their tables (Markdown).
# Usage: bench/run.sh [RUNS]      (from the repository root, after `make build`)
# The machine should be otherwise idle; the figures are medians of RUNS runs.
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-20}
BUILD=${BUILD_DIR:-build}
SUDO=$([ "$(id -u)" -ne 0 ] && echo sudo || true)
command -v mpv >/dev/null || { echo "installing the mpv program for the baselines" >&2; \
    $SUDO apt-get install -y -qq mpv >/dev/null; }
cmake --build "$BUILD" --target bench_engine bench_accuracy bench_memory bench_copy bench_bare_window \
    bench_timeline bench_planner snipora >/dev/null
work=$(mktemp -d -p "${BENCH_TMP:-/var/tmp}")
trap 'rm -rf "$work"' EXIT
gen() { ffmpeg -nostdin -v error -y "$@"; }

echo "## Engine"
gen -f lavfi -i testsrc2=size=640x360:rate=25:duration=10 -f lavfi -i sine=frequency=440:duration=10 \
    -c:v libx264 -preset ultrafast -g 25 -pix_fmt yuv420p -c:a aac -shortest "$work/clip.mp4"
QT_QPA_PLATFORM=offscreen "$BUILD/bin/bench_engine" "$work/clip.mp4" "$RUNS"

echo; echo "## Start-up"
xvfb-run -a -s "-screen 0 1280x800x24" bench/startup.sh "$BUILD" "$(( RUNS < 15 ? RUNS : 15 ))"

echo; echo "## Peak memory, 1080p playing"
gen -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=20 -f lavfi -i sine=duration=20 \
    -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest "$work/1080p.mp4"
ours=$(xvfb-run -a -s "-screen 0 1280x800x24" "$BUILD/bin/bench_memory" "$work/1080p.mp4" 2>/dev/null | tail -1)
theirs=$(xvfb-run -a -s "-screen 0 1280x800x24" /usr/bin/time -f "%M" \
    mpv --no-config --ao=null --length=5 "$work/1080p.mp4" 2>&1 >/dev/null | tail -1)
echo "| Measure | Snipora (MiB) | mpv playing the same (MiB) | Ratio |"
echo "|---|---|---|---|"
awk -v o="$ours" -v t="$theirs" 'BEGIN { printf "| Peak resident memory, 5 s of 1080p30 | %.1f | %.1f | %.2f |\n", o, t / 1024, o / (t / 1024) }'

echo; echo "## Direct copy of a large file"
# About 1.1 GiB of raw 720p video in Matroska: quick to make, and a copy moves every byte.
gen -f lavfi -i testsrc2=size=1280x720:rate=25:duration=32 -c:v rawvideo -pix_fmt yuv420p \
    "$work/large.mkv"
# The copies are written to memory where there is room: the disk's write-back otherwise decides
# which of the three runs looks slow.
copies="$work"
if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR==2 {print $4}')" -gt 4000000 ]; then
    copies=$(mktemp -d -p /dev/shm)
fi
"$BUILD/bin/bench_copy" "$work/large.mkv" "$copies" 3
[ "$copies" = "$work" ] || rm -rf "$copies"
rm -f "$work/large.mkv"

echo; echo "## Cut accuracy"
"$BUILD/bin/bench_accuracy" "$work"

echo; echo "## Exact direct copy"
cmake --build "$BUILD" --target snipora-cut >/dev/null
bench/exactcopy.sh "$BUILD" "$work" "$(( RUNS < 5 ? RUNS : 5 ))"

echo; echo "## Several segments"
bench/segments.sh "$BUILD" "$work" "$(( RUNS < 3 ? RUNS : 3 ))"

echo; echo "## snipora-cut against ffmpeg by hand"
bench/clicut.sh "$BUILD" "$work" "$RUNS"

echo; echo "## Timeline of a 2 h file"
bench/timeline.sh "$BUILD" "$work" "$(( RUNS < 3 ? RUNS : 3 ))"

echo; echo "## Responsiveness"
cmake --build "$BUILD" --target bench_stall >/dev/null
bench/stall.sh "$BUILD" "$work" "$(( RUNS < 5 ? RUNS : 5 ))"

echo; echo "## Cut plan of a long source"
"$BUILD/bin/bench_planner" "$(( RUNS < 9 ? RUNS : 9 ))"
