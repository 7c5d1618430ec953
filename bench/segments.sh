#!/usr/bin/env bash
# Several segments of one long file saved joined: 10 min of grainy 1080p H.264 (testsrc2 with
# noise, x264's default GOP with scene cuts, AAC), three 5 s pieces removed at marks between key
# frames. Median wall time of snipora-cut's exact copy (--copy) and key-frame copy
# (--keyframe-copy), against the key-frame copy done by hand with ffmpeg (-ss/-to -c copy per
# piece, then the concat demuxer), and the time ffmpeg takes to re-encode the frames at the six
# edges with the edge encoder's settings: the budget the exact copy may add to a key-frame copy.
# Usage: bench/segments.sh BUILD_DIR WORKDIR [RUNS]   Prints a Markdown table (RUNS: 3).
# The source (about 2 GB) is made once and kept in WORKDIR; on two cores that takes about
# 30 minutes, so x264's ultrafast preset makes it (with its scene cuts and B-frames back on).
set -euo pipefail
BUILD=$1; work=$2; RUNS=${3:-3}
cut="$BUILD/bin/snipora-cut"
src="$work/1080p-grainy-10min.mp4"
if [ ! -f "$src" ]; then
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=600 \
        -f lavfi -i sine=duration=600 -vf noise=alls=12:allf=t+u -c:v libx264 -preset ultrafast \
        -x264-params scenecut=40:bframes=3 -pix_fmt yuv420p -c:a aac -shortest \
        -movflags +faststart "$work/src.tmp.mp4"
    mv "$work/src.tmp.mp4" "$src"
fi
# The pieces removed, each between two key frames of the source.
removed=("50.3-55.3" "300.1-305.1" "506.3-511.3")
kept=("0 50.3" "55.3 300.1" "305.1 506.3" "511.3 600")

# Median wall time (s) of a command over RUNS runs; the written data is flushed first, so that
# no run pays for another's.
measure() {
    local times=()
    for _ in $(seq "$RUNS"); do
        rm -f "$work"/seg-*
        sync
        local s e
        s=$(date +%s%N); "$@" >/dev/null 2>&1 || echo "failed: $*" >&2; e=$(date +%s%N)
        times+=("$(awk -v d=$(( e - s )) 'BEGIN { printf "%.2f", d / 1e9 }')")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

# The key-frame copy by hand: each piece from the key frame at or before its start, joined.
by_hand() {
    local list="$work/seg-list.txt" k=0
    : >"$list"
    for piece in "${kept[@]}"; do
        set -- $piece
        ffmpeg -nostdin -v error -y -ss "$1" -to "$2" -i "$src" -map 0 -c copy \
            -avoid_negative_ts make_zero "$work/seg-piece$k.mp4"
        echo "file '$work/seg-piece$k.mp4'" >>"$list"
        k=$((k + 1))
    done
    ffmpeg -nostdin -v error -y -f concat -safe 0 -i "$list" -map 0 -c copy "$work/seg-hand.mp4"
}

# The key frames around a mark (seconds): the last at or before it and the first after it.
keys_around() {
    ffprobe -v error -select_streams v:0 -skip_frame nokey -show_entries frame=pts_time \
        -of csv=p=0 -read_intervals "$(awk -v m="$1" 'BEGIN { printf "%.3f%%%.3f", m - 12, m + 12 }')" \
        "$src" | tr -d ',' | awk -v m="$1" 'NF { if ($1 <= m) b = $1; else if (!a) a = $1 }
        END { print b, a }'
}
edge() { # start length: the frames shown from start, for length, re-encoded as the edges are
    ffmpeg -nostdin -v error -y -threads 1 -ss "$1" -i "$src" -t "$2" -an -c:v libx264 \
        -preset fast -tune psnr -crf 15 -bf 0 \
        -x264-params rc-lookahead=0:mbtree=0:ref=1:weightp=0:threads=1 "$work/seg-edge.mp4"
}
# Six edges: where each removed piece begins, the few frames before it that need later ones
# (three frames, decoded from the key frame before); where it ends, the frames up to the next
# key frame (decoded from the key frame before the mark).
edges=()
for r in "${removed[@]}"; do
    from=${r%-*}; to=${r#*-}
    read -r _ next < <(keys_around "$to")
    edges+=("$(awk -v m="$from" 'BEGIN { printf "%.3f", m - 0.12 }') 0.12")
    edges+=("$to $(awk -v a="$next" -v m="$to" 'BEGIN { printf "%.3f", a - m }')")
done
budget() { for e in "${edges[@]}"; do edge $e; done; }

args=("$src" --output-dir "$work" --yes)
for r in "${removed[@]}"; do args+=(--remove "$r"); done
hand=$(measure by_hand)
key=$(measure "$cut" "${args[@]}" --keyframe-copy --name seg-key)
exact=$(measure "$cut" "${args[@]}" --copy --name seg-exact)
enc=$(measure budget)
ratio() { awk -v a="$1" -v b="$hand" 'BEGIN { printf "%.2f", a / b }'; }
echo "| 10 min of grainy 1080p H.264, three 5 s pieces removed between key frames | median s | / ffmpeg by hand |"
echo "|---|---|---|"
echo "| ffmpeg by hand: -ss -to -c copy per piece, concat demuxer | $hand | 1.00 |"
echo "| snipora-cut --keyframe-copy | $key | $(ratio "$key") |"
echo "| snipora-cut --copy (exact) | $exact | $(ratio "$exact") |"
echo "| ffmpeg re-encoding the six edges with the edge settings | $enc | $(ratio "$enc") |"
awk -v k="$key" -v e="$exact" -v n="$enc" 'BEGIN {
    printf "\nBudget: key-frame copy + the six edges re-encoded = %.2f s; exact copy %.2f s (%s).\n",
        k + n, e, (e <= k + n ? "within" : "over") }'
rm -f "$work"/seg-*
