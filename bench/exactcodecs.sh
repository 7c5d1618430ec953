#!/usr/bin/env bash
# The exact direct copy per codec and container, on grainy detailed content (testsrc2 with
# noise, a key frame every 2 s, 10 s), marks in mid-GOP (1.3 s to 8.7 s): whether the copy is
# exact (its first frame the one at the start mark), the frames re-encoded, the lowest PSNR
# (luma) of those against the source's, and the time against the key-frame copy of the same
# range (medians of RUNS runs). A copy that is not exact gives its reason.
# Usage: bench/exactcodecs.sh BUILD_DIR WORKDIR [RUNS]   Prints a Markdown table (RUNS: 3).
# ROWS="vp9.webm mpeg4.avi" runs those sources only.
set -euo pipefail
BUILD=$1; work=$2; RUNS=${3:-3}
cut="$BUILD/bin/snipora-cut"
mkdir -p "$work"
start=1.3; end=8.7
grain="noise=alls=30:allf=t+u"
make() { # NAME SIZE FIELDS ENCODER-ARGS...
    local name=$1 size=$2 fields=$3; shift 3
    [ -f "$work/$name" ] && return
    local vf="format=yuv420p,$grain"
    [ "$fields" = i ] && vf="$vf,setfield=tff"
    ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=$size:r=25:d=10" -vf "$vf" "$@" "$work/$name"
}
make vp9.webm 640x360 p -c:v libvpx-vp9 -b:v 2M -g 50 -deadline good -cpu-used 5
[ -f "$work/vp9.mkv" ] || ffmpeg -nostdin -v error -y -i "$work/vp9.webm" -c copy "$work/vp9.mkv"
[ -f "$work/vp9.mp4" ] || ffmpeg -nostdin -v error -y -i "$work/vp9.webm" -c copy "$work/vp9.mp4"
make mpeg4.avi 640x360 p -c:v mpeg4 -q:v 4 -bf 2 -g 50
make mpeg4.mp4 640x360 p -c:v mpeg4 -q:v 4 -bf 2 -g 50
make xvid.avi 640x360 p -c:v libxvid -q:v 4 -bf 2 -g 50
make av1.mkv 640x360 p -c:v libsvtav1 -preset 10 -g 50
[ -f "$work/av1.webm" ] || ffmpeg -nostdin -v error -y -i "$work/av1.mkv" -c copy "$work/av1.webm"
[ -f "$work/av1.mp4" ] || ffmpeg -nostdin -v error -y -i "$work/av1.mkv" -c copy "$work/av1.mp4"
make av1-aom.mkv 640x360 p -c:v libaom-av1 -cpu-used 6 -g 50
[ -f "$work/av1-aom.mp4" ] || ffmpeg -nostdin -v error -y -i "$work/av1-aom.mkv" -c copy "$work/av1-aom.mp4"
make h264.mp4 640x360 p -c:v libx264 -g 50
make h264-i.ts 720x576 i -c:v libx264 -flags +ildct+ilme -x264-params tff=1 -g 50
make h264-i.mkv 720x576 i -c:v libx264 -flags +ildct+ilme -x264-params tff=1 -g 50
make mpeg2-576i.ts 720x576 i -c:v mpeg2video -flags +ildct+ilme -top 1 -b:v 8M -g 12 -bf 2
median() { sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]}'; }
timed() { # median wall time of a cut
    for _ in $(seq "$RUNS"); do
        /usr/bin/time -o "$work/time.txt" -f "%e" "$@" >/dev/null 2>&1 || true
        tail -1 "$work/time.txt"
    done | median
}
# Per-frame luma PSNR of the output against the source frames from the first one shown at or
# after the start mark, compared by time; copied frames are identical (inf). AVI stores no
# presentation times (its frames come out a frame late): there the frames are compared in
# order, from the first whose time from the file's start reaches the mark.
psnrs() {
    local first align="setpts=PTS-STARTPTS"
    first=$(awk -v s=$start 'BEGIN { f = s * 25; printf "%d", (f == int(f)) ? f : int(f) + 1 }')
    if [ "${2##*.}" = avi ]; then
        align="setpts=N/(25*TB)"
        first=$(ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp_time \
            -of csv=p=0 "$2" | awk -v s=$start '$1 != "N/A" && $1 >= s - 1e-6 { print NR - 1; exit }')
    fi
    ffmpeg -nostdin -v error -i "$1" -i "$2" -lavfi \
        "[1:v]trim=start_frame=$first,$align[s];[0:v]$align[o];[o][s]psnr=stats_file=$work/psnr.txt:shortest=1" \
        -f null - || true
    sed -n 's/.*psnr_y:\([^ ]*\).*/\1/p' "$work/psnr.txt"
}
echo "| codec, container | exact | frames re-encoded | lowest PSNR of those (dB) | exact copy (s) | key-frame copy (s) | ratio | reason when not exact; remark |"
echo "|---|---|---|---|---|---|---|---|"
for f in ${ROWS:-vp9.webm vp9.mkv vp9.mp4 mpeg4.avi mpeg4.mp4 xvid.avi av1.webm av1.mkv av1.mp4 av1-aom.mkv av1-aom.mp4 h264.mp4 h264-i.ts h264-i.mkv mpeg2-576i.ts}; do
    src="$work/$f"; ext=${f##*.}
    log=$("$cut" "$src" --copy --start $start --end $end --output-dir "$work" --name out-exact --yes 2>&1 | tr '\r' '\n' || true)
    out="$work/out-exact.$ext"
    reason=$(printf "%s\n" "$log" | sed -n "s/.*(no exact cut: \(.*\))\.$/\1/p" | head -1)
    if [ -n "$reason" ]; then exact=no; else exact=yes; fi
    # An exact AV1 copy whose new frames could not take the source's sequence header.
    differs=$(printf "%s\n" "$log" | sed -n "s/.*it differs from the source's in \([^)]*\)).*/\1/p" | head -1)
    [ -n "$differs" ] && reason="exact; the new frames' AV1 sequence header differs in $differs, the source's is repeated"
    frames=0; low="-"
    if [ $exact = yes ]; then
        values=$(psnrs "$out" "$src" | grep -v '^inf$' || true)
        frames=$(printf '%s' "$values" | grep -c . || true)
        [ "$frames" -gt 0 ] && low=$(printf '%s\n' "$values" | sort -n | head -1)
    fi
    te=$(timed "$cut" "$src" --copy --start $start --end $end --output-dir "$work" --name out-exact --yes)
    tk=$(timed "$cut" "$src" --keyframe-copy --start $start --end $end --output-dir "$work" --name out-key --yes)
    ratio=$(awk -v a="$te" -v b="$tk" 'BEGIN { printf "%.2f", a / b }')
    echo "| ${f%.*} ($ext) | $exact | $frames | $low | $te | $tk | $ratio | ${reason:--} |"
done
