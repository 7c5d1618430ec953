#!/usr/bin/env bash
# snipora-cut's own cost: the same job run by snipora-cut and by ffmpeg by hand, interleaved,
# median wall time of RUNS runs each, and the ratio.
#  - a short direct copy (about 0.3 s of work): snipora-cut --keyframe-copy against
#    ffmpeg -ss -t -map 0 -c copy (the same packets), and the exact copy beside them;
#  - a 4 s 1080p conversion to "MP4 - H264 Video": snipora-cut against the ffmpeg argument
#    list snipora-cut runs (printed by its encoder), started by hand.
# Usage: bench/clicut.sh BUILD_DIR WORKDIR [RUNS]   Prints a Markdown table.
set -euo pipefail
BUILD=$1; work=$2; RUNS=${3:-15}
cut="$BUILD/bin/snipora-cut"
gen() { ffmpeg -nostdin -v error -y "$@"; }
copysrc="$work/copy-720p.mp4"
convsrc="$work/conv-1080p.mp4"
[ -f "$copysrc" ] || gen -f lavfi -i testsrc2=size=1280x720:rate=25:duration=120 \
    -f lavfi -i sine=duration=120 -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p \
    -c:a aac -shortest "$copysrc"
[ -f "$convsrc" ] || gen -f lavfi -i testsrc2=size=1920x1080:rate=25:duration=10 \
    -f lavfi -i sine=duration=10 -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p \
    -c:a aac -shortest "$convsrc"

secs() { # command... -> wall seconds (written data flushed first, so no run pays for another's)
    local s e
    sync
    s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N)
    awk -v d=$(( e - s )) 'BEGIN { printf "%.4f\n", d / 1e9 }'
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# The conversion's ffmpeg arguments, exactly as snipora-cut's encoder starts them.
rm -f "$work/fc.mp4"
mapfile -t args < <("$cut" "$convsrc" --start 2 --end 6 --output-dir "$work" --name fc \
    --print-ffmpeg 2>/dev/null)

kc=(); ff=(); ex=(); cv=(); fc=()
for i in $(seq "$RUNS"); do
    rm -f "$work"/kc.mp4 "$work"/ff.mp4 "$work"/ex.mp4 "$work"/conv.mp4 "$work"/fc.mp4
    # The two conversions take turns going first.
    if [ $(( i % 2 )) -eq 0 ] && [ ${#args[@]} -gt 0 ]; then
        fc+=("$(secs ffmpeg "${args[@]}")")
        rm -f "$work"/fc.mp4
    fi
    kc+=("$(secs "$cut" "$copysrc" --keyframe-copy --start 30 --end 90 --output-dir "$work" --name kc)")
    ff+=("$(secs ffmpeg -nostdin -v error -y -ss 30 -i "$copysrc" -t 60 -map 0 -c copy "$work/ff.mp4")")
    ex+=("$(secs "$cut" "$copysrc" --copy --start 30 --end 90 --output-dir "$work" --name ex)")
    cv+=("$(secs "$cut" "$convsrc" --start 2 --end 6 --output-dir "$work" --name conv)")
    if [ $(( i % 2 )) -eq 1 ] && [ ${#args[@]} -gt 0 ]; then
        fc+=("$(secs ffmpeg "${args[@]}")")
    fi
done
k=$(printf '%s\n' "${kc[@]}" | median); f=$(printf '%s\n' "${ff[@]}" | median)
x=$(printf '%s\n' "${ex[@]}" | median); c=$(printf '%s\n' "${cv[@]}" | median)
echo "| Job | snipora-cut (median s) | ffmpeg by hand (median s) | Ratio |"
echo "|---|---|---|---|"
awk -v k="$k" -v f="$f" 'BEGIN { printf "| Direct copy, 60 s of 720p (key-frame copy) | %.3f | %.3f | %.2f |\n", k, f, k / f }'
awk -v x="$x" -v f="$f" 'BEGIN { printf "| The same, exact copy | %.3f | %.3f | %.2f |\n", x, f, x / f }'
if [ ${#fc[@]} -gt 0 ]; then
    g=$(printf '%s\n' "${fc[@]}" | median)
    awk -v c="$c" -v g="$g" 'BEGIN { printf "| Conversion, 4 s of 1080p to MP4 - H264 Video | %.3f | %.3f | %.3f |\n", c, g, c / g }'
fi
