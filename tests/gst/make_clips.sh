#!/bin/bash
# Clips for the tarvdec tests, made with the ffmpeg command-line tool and the
# tarv tool, and what `tarv decode` gives for each as raw frames:
#   bash make_clips.sh TARV_BINARY DATA_DIR WORK_DIR
# WORK_DIR gets NAME.avi and NAME.raw (frames packed as FFmpeg's rawvideo:
# bgr24 or yuyv422, rows unpadded), a damaged and a truncated clip, and the
# file "ready" last. Exits 77 (skipped) without ffmpeg and ffprobe.
set -eu
. "$(dirname "$0")/../support/need_ffmpeg.sh"
tarv=$1 data=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work"

# clip NAME PIXFMT WxH FRAMES: a noisy pattern, drawn at an even size and
# scaled, since the noise filter rounds odd sizes down.
clip() {
    local w=${3%x*} h=${3#*x}
    ffmpeg -v error -nostdin -f lavfi \
        -i "testsrc2=size=$((w + w % 2))x$((h + h % 2)):rate=25,noise=alls=20:allf=t,scale=$w:$h,format=$2" \
        -frames:v "$4" -c:v rawvideo "$1.nut"
    "$tarv" encode "$1.nut" "$1.avi" --quiet 2>/dev/null
}

# expect NAME PIXFMT: the frames `tarv decode` gives for NAME.avi.
expect() {
    "$tarv" decode "$1.avi" "$1.dec.nut" --quiet
    ffmpeg -v error -nostdin -i "$1.dec.nut" -f rawvideo -pix_fmt "$2" "$1.raw"
    rm "$1.dec.nut"
}

clip rgb bgr24 321x241 5
clip yuy2 yuyv422 64x48 6
clip yuy2_odd yuyv422 33x17 4
cp "$data/windows/tarvy.avi" win_tarvy.avi
cp "$data/windows/tarvr_avisave.avi" win_tarvr.avi
for name in rgb win_tarvr; do expect $name bgr24; done
for name in yuy2 yuy2_odd win_tarvy; do expect $name yuyv422; done
# The same stream in Matroska (V_MS/VFW/FOURCC).
ffmpeg -v error -nostdin -i rgb.avi -c copy rgb.mkv

# Frame 2 of rgb.avi: its record count made impossible, or the file cut in it.
offset=$(ffprobe -v error -show_entries packet=pos -of csv=p=0 rgb.avi | sed -n 3p)
size=$(ffprobe -v error -show_entries packet=size -of csv=p=0 rgb.avi | sed -n 3p)
cp rgb.avi damaged.avi
printf '\377\377\377\377' | dd of=damaged.avi bs=1 seek="$offset" conv=notrunc status=none
head -c $((offset + size / 2)) rgb.avi >truncated.avi
rm ./*.nut
touch ready
