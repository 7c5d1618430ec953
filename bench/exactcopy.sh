#!/usr/bin/env bash
# Exact direct copy against the key-frame copy and ffmpeg's stream copy by hand: a 100 s range
# of a 1080p H.264 file with a key frame every 2 s, and the time ffmpeg takes to re-encode two
# key-frame intervals with the edge encoder's settings (the budget the exact copy may add).
# Usage: bench/exactcopy.sh BUILD_DIR WORKDIR [RUNS]   Prints a Markdown table (RUNS: 5).
set -euo pipefail
BUILD=$1; work=$2; RUNS=${3:-5}
cut="$BUILD/bin/snipora-cut"
src="$work/1080p-gop2.mp4"
[ -f "$src" ] || ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=110 \
    -f lavfi -i sine=duration=110 -c:v libx264 -preset ultrafast -g 50 -keyint_min 50 \
    -sc_threshold 0 -bf 3 -pix_fmt yuv420p -c:a aac -shortest "$src"
# Median wall time (s) and peak resident memory (MiB) of a command over RUNS runs.
measure() {
    local times=() mems=()
    for _ in $(seq "$RUNS"); do
        rm -f "$work"/out*
        /usr/bin/time -o "$work/time.txt" -f "%e %M" "$@" >/dev/null 2>&1
        local r; r=$(tail -1 "$work/time.txt")
        times+=("${r% *}"); mems+=("${r#* }")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]}'
    printf ' '
    printf '%s\n' "${mems[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.0f\n", a[int((NR+1)/2)] / 1024}'
}
start=5.3; end=105.3 # both marks between key frames
ff=$(measure ffmpeg -nostdin -v error -y -ss $start -i "$src" -t 100 -c copy "$work/out-ff.mp4")
key=$(measure "$cut" "$src" --keyframe-copy --start $start --end $end --output-dir "$work" --name out-key --yes)
exact=$(measure "$cut" "$src" --copy --start $start --end $end --output-dir "$work" --name out-exact --yes)
# snipora-cut's own start-up (the libraries it loads) and probe, without the copy.
fixed=$(measure "$cut" "$src" --keyframe-copy --start $start --end $end --output-dir "$work" --name out-key --yes --print-args)
enc=$(measure ffmpeg -nostdin -v error -y -ss 40 -i "$src" -t 4 -an -c:v libx264 -preset fast -crf 16 \
    -bf 0 "$work/out-enc.mp4")
ratio() { awk -v a="$1" -v b="${ff% *}" 'BEGIN { printf "%.2f", a / b }'; }
echo "| 100 s of 1080p H.264, key frame every 2 s | median s | / ffmpeg copy | peak memory (MiB) |"
echo "|---|---|---|---|"
echo "| ffmpeg -ss -t -c copy by hand | ${ff% *} | 1.00 | ${ff#* } |"
echo "| Snipora key-frame copy (--keyframe-copy) | ${key% *} | $(ratio "${key% *}") | ${key#* } |"
echo "| Snipora exact copy (--copy) | ${exact% *} | $(ratio "${exact% *}") | ${exact#* } |"
echo "| snipora-cut --print-args (start-up and probe, no copy) | ${fixed% *} | $(ratio "${fixed% *}") | ${fixed#* } |"
echo "| ffmpeg re-encoding two key-frame intervals (4 s) with the edge settings | ${enc% *} | $(ratio "${enc% *}") | ${enc#* } |"
awk -v k="${key% *}" -v e="${exact% *}" -v n="${enc% *}" 'BEGIN {
    printf "\nBudget: key-frame copy + two intervals re-encoded = %.2f s; exact copy %.2f s (%s).\n",
        k + n, e, (e <= k + n ? "within" : "over") }'
