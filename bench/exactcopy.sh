#!/usr/bin/env bash
# The exact direct copy with marks in mid-GOP on detailed grainy content (1080p testsrc2 with
# noise, H.264 with a key frame every 2 s, 100 s of 110), so that frames at both edges are
# re-encoded: against the key-frame copy, ffmpeg's stream copy by hand, and the time ffmpeg
# takes to re-encode two key-frame intervals with the edge encoder's settings (the budget the
# exact copy may add); peak memory of each. Then a Matroska file whose clusters are out of
# order (560,000 small intra frames): the exact copy's time, and how soon a stop (SIGTERM) is
# seen at moments through the run.
# Usage: bench/exactcopy.sh BUILD_DIR WORKDIR [RUNS]   Prints Markdown tables (RUNS: 5).
# BASE_BUILD=DIR adds the same rows for another build (an earlier commit) to compare with.
set -euo pipefail
BUILD=$1; work=$2; RUNS=${3:-5}
cut="$BUILD/bin/snipora-cut"
src="$work/1080p-grainy-gop2.mp4"
[ -f "$src" ] || ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=110 \
    -f lavfi -i sine=duration=110 -vf noise=alls=12:allf=t+u -c:v libx264 -preset veryfast \
    -g 50 -keyint_min 50 -sc_threshold 0 -pix_fmt yuv420p -c:a aac -shortest "$src"
# Median wall time (s) and peak resident memory (MiB) of a command over RUNS runs.
measure() {
    local times=() mems=()
    for _ in $(seq "$RUNS"); do
        rm -f "$work"/out*
        /usr/bin/time -o "$work/time.txt" -f "%e %M" "$@" >/dev/null 2>&1 || true
        local r; r=$(tail -1 "$work/time.txt")
        times+=("${r% *}"); mems+=("${r#* }")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]}'
    printf ' '
    printf '%s\n' "${mems[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.0f\n", a[int((NR+1)/2)] / 1024}'
}
start=5.3; end=105.3 # both marks in mid-GOP: 17 frames re-encoded before 6 s, a tail before the end
ff=$(measure ffmpeg -nostdin -v error -y -ss $start -i "$src" -t 100 -c copy "$work/out-ff.mp4")
rows=()
for build in "$BUILD" ${BASE_BUILD:+"$BASE_BUILD"}; do
    c="$build/bin/snipora-cut"
    label=$([ "$build" = "$BUILD" ] && echo "Snipora" || echo "Snipora before")
    key=$(measure "$c" "$src" --keyframe-copy --start $start --end $end --output-dir "$work" --name out-key --yes)
    exact=$(measure "$c" "$src" --copy --start $start --end $end --output-dir "$work" --name out-exact --yes)
    rows+=("$label key-frame copy (--keyframe-copy)|$key" "$label exact copy (--copy)|$exact")
    [ "$build" = "$BUILD" ] && { mine_key=$key; mine_exact=$exact; }
done
# snipora-cut's own start-up (the libraries it loads) and probe, without the copy.
fixed=$(measure "$cut" "$src" --keyframe-copy --start $start --end $end --output-dir "$work" --name out-key --yes --print-args)
enc=$(measure ffmpeg -nostdin -v error -y -threads 1 -ss 40 -i "$src" -t 4 -an -c:v libx264 -preset fast \
    -tune psnr -crf 15 -bf 0 -x264-params rc-lookahead=0:mbtree=0:ref=1:weightp=0:threads=1 \
    "$work/out-enc.mp4")
ratio() { awk -v a="$1" -v b="${ff% *}" 'BEGIN { printf "%.2f", a / b }'; }
echo "| 100 s of grainy 1080p H.264, key frame every 2 s, marks in mid-GOP | median s | / ffmpeg copy | peak memory (MiB) |"
echo "|---|---|---|---|"
echo "| ffmpeg -ss -t -c copy by hand | ${ff% *} | 1.00 | ${ff#* } |"
for row in "${rows[@]}"; do
    v=${row#*|}
    echo "| ${row%|*} | ${v% *} | $(ratio "${v% *}") | ${v#* } |"
done
echo "| snipora-cut --print-args (start-up and probe, no copy) | ${fixed% *} | $(ratio "${fixed% *}") | ${fixed#* } |"
echo "| ffmpeg re-encoding two key-frame intervals (4 s) with the edge settings | ${enc% *} | $(ratio "${enc% *}") | ${enc#* } |"
awk -v k="${mine_key% *}" -v e="${mine_exact% *}" -v n="${enc% *}" 'BEGIN {
    printf "\nBudget: key-frame copy + two intervals re-encoded = %.2f s; exact copy %.2f s (%s).\n",
        k + n, e, (e <= k + n ? "within" : "over") }'

# 14 s of 16x16 intra frames at 40,000 a second in Matroska; the cluster holding 12.700 s is
# stamped 0 and the next one 1.8 s (same widths), so that 1.8 s comes again after 12.7 s.
clusters="$work/clusters.mkv"
if [ ! -f "$clusters" ]; then
    ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:size=16x16:rate=40000:duration=14 \
        -c:v libx264 -preset ultrafast -g 1 -bf 0 -cluster_time_limit 1000 "$work/ordered.mkv"
    python3 - "$work/ordered.mkv" "$clusters" <<'EOF'
import sys
def size(d, i):  # an EBML variable-size integer: value, length
    n = 1
    while not d[i] & (0x80 >> (n - 1)):
        n += 1
    v = d[i] & ((0x80 >> (n - 1)) - 1)
    for k in range(1, n):
        v = (v << 8) | d[i + k]
    return v, n
def ident(d, i):
    n = 1
    while not d[i] & (0x80 >> (n - 1)):
        n += 1
    return int.from_bytes(d[i:i + n], 'big'), n
d = bytearray(open(sys.argv[1], 'rb').read())
_, n = ident(d, 0); s, m = size(d, n); i = n + m + s  # past the EBML header
_, n = ident(d, i); s, m = size(d, i + n); i += n + m  # into the Segment
stamps = []  # (timestamp, offset, width) of each Cluster's Timestamp
while i < len(d):
    eid, n = ident(d, i); s, m = size(d, i + n); body = i + n + m
    if eid == 0x1F43B675:
        j = body
        while j < body + s:
            cid, cn = ident(d, j); cs, cm = size(d, j + cn)
            if cid == 0xE7:
                stamps.append((int.from_bytes(d[j + cn + cm:j + cn + cm + cs], 'big'), j + cn + cm, cs))
                break
            j += cn + cm + cs
    i = body + s
at = max(k for k, c in enumerate(stamps) if c[0] <= 12700)
for k, value in ((at, 0), (at + 1, 1800)):
    _, offset, width = stamps[k]
    d[offset:offset + width] = value.to_bytes(width, 'big')
open(sys.argv[2], 'wb').write(d)
EOF
fi
echo
echo "| Matroska, 560,000 frames, clusters out of order: --start 1.3 --end 12.7 --copy | median s | peak memory (MiB) |"
echo "|---|---|---|"
for build in "$BUILD" ${BASE_BUILD:+"$BASE_BUILD"}; do
    label=$([ "$build" = "$BUILD" ] && echo "Snipora" || echo "Snipora before")
    RUNS_SAVED=$RUNS; [ "$build" = "$BUILD" ] || RUNS=1
    v=$(measure timeout 600 "$build/bin/snipora-cut" "$clusters" --copy --start 1.3 --end 12.7 \
        --output-dir "$work" --name out-clusters --yes)
    RUNS=$RUNS_SAVED
    echo "| $label | ${v% *} | ${v#* } |"
done
# A stop at moments through the run: how long the process takes to end after SIGTERM.
echo
echo "| SIGTERM after (s) | ends after (s) | exit status | files left |"
echo "|---|---|---|---|"
for after in 0.2 0.5 1.0 1.5 2.0 2.5; do
    rm -f "$work"/out*
    "$cut" "$clusters" --copy --start 1.3 --end 12.7 --output-dir "$work" --name out-stop --yes \
        >/dev/null 2>&1 &
    pid=$!
    sleep "$after"
    t0=$(date +%s.%N)
    kill -TERM "$pid" 2>/dev/null || true
    status=0; wait "$pid" || status=$?
    t1=$(date +%s.%N)
    left=$(find "$work" -maxdepth 1 -name 'out-stop*' -o -maxdepth 1 -name '.snipora-*' | wc -l)
    awk -v a="$after" -v d="$(echo "$t1 - $t0" | bc)" -v s="$status" -v l="$left" \
        'BEGIN { printf "| %s | %.3f | %s | %s |\n", a, d, s, l }'
done
