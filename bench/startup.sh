#!/usr/bin/env bash
# Start-up to the main window shown, under Xvfb: from starting the program until its window
# is mapped, median of RUNS; the baselines, measured in the same run and interleaved with it,
# are a bare Qt window of the same size and the mpv program opening its idle window.
# Usage: bench/startup.sh BUILD_DIR [RUNS]
set -euo pipefail
BUILD=${1:-build}
RUNS=${2:-15}
viewable() { # NAME -> true when a window of that name is mapped (not merely created)
    local id
    for id in $(xwininfo -root -tree 2>/dev/null | awk -v n="\"$1\"" 'index($0, n) {print $1}'); do
        xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && return 0
    done
    return 1
}
measure() { # command... -> milliseconds until a window named like $NAME is viewable
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 1 2000); do
        if viewable "$NAME"; then break; fi
        sleep 0.005
    done
    end=$(date +%s%N)
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    echo $(( (end - start) / 1000000 ))
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
export -f measure viewable
ours=()
bare=()
theirs=()
for _ in $(seq 1 "$RUNS"); do
    ours+=("$(NAME=Snipora measure "$BUILD/bin/snipora")")
    bare+=("$(NAME=bare-window measure "$BUILD/bin/bench_bare_window")")
    if command -v mpv >/dev/null; then
        theirs+=("$(NAME=mpv-idle measure mpv --no-config --idle=yes --force-window=immediate --title=mpv-idle --ao=null)")
    fi
done
o=$(printf '%s\n' "${ours[@]}" | median)
b=$(printf '%s\n' "${bare[@]}" | median)
echo "| Start-up to the main window shown | $o ms |"
echo "| A bare Qt window of the same size (baseline) | $b ms |"
awk -v o="$o" -v b="$b" 'BEGIN { printf "| Ratio to the bare window | %.2f |\n", o / b }'
if [ ${#theirs[@]} -gt 0 ]; then
    t=$(printf '%s\n' "${theirs[@]}" | median)
    echo "| mpv opening its idle window (baseline) | $t ms |"
    awk -v o="$o" -v t="$t" 'BEGIN { printf "| Ratio to mpv | %.2f |\n", o / t }'
fi
