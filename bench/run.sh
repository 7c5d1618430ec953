#!/usr/bin/env bash
# Runs the benchmarks on media generated here and prints their tables.
# Usage: bench/run.sh [RUNS]      (from the repository root, after `make build`)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS=${1:-20}
BUILD=${BUILD_DIR:-build}
command -v mpv >/dev/null || { echo "installing the mpv program for the baseline"; \
    ${SUDO:-$( [ "$(id -u)" -ne 0 ] && echo sudo )} apt-get install -y -qq mpv >/dev/null; }
cmake --build "$BUILD" --target bench_engine >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x360:rate=25:duration=10 \
    -f lavfi -i sine=frequency=440:duration=10 -c:v libx264 -preset ultrafast -g 25 \
    -pix_fmt yuv420p -c:a aac -shortest "$work/clip.mp4"
QT_QPA_PLATFORM=offscreen "$BUILD/bin/bench_engine" "$work/clip.mp4" "$RUNS"
