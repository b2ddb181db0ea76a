#!/bin/bash
# A Tarv AVI past 1 GiB: libavformat switches to OpenDML (AVIX chunks and
# super indexes), and every frame must still be found and decode exactly.
#   large_file_test.sh TARV WORK_DIR
# 4K YUY2 noise, which does not compress (one 4:2:2 TIFF, linked as 60
# numbered images), makes about 1.2 GB. Exits 77 (skipped) without ffmpeg/ffprobe or without 3 GB of disk.
set -u
tarv=$1
work=$2
if ! command -v ffmpeg >/dev/null || ! command -v ffprobe >/dev/null; then
    echo "SKIPPED: ffmpeg and ffprobe are not installed"
    exit 77
fi
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
trap 'cd / && rm -rf "$work"' EXIT
if [ "$(df -Pk . | awk 'NR == 2 { print $4 }')" -lt 3000000 ]; then
    echo "SKIPPED: less than 3 GB free in $work"
    exit 77
fi

frames=60
head -c $((3840 * 2160 * 2)) /dev/urandom > noise.yuv
ffmpeg -v error -nostdin -f rawvideo -pix_fmt yuv422p -s 3840x2160 -i noise.yuv \
    -frames:v 1 noise.tif || exit 1
for i in $(seq -f %03g 1 $frames); do
    ln -s noise.tif "img$i.tif"
done

fail() {
    echo "FAILED: $*"
    exit 1
}

"$tarv" encode 'img%03d.tif' big.avi --codec yuy2 --quiet || fail "encode exited $?"
size=$(stat -c %s big.avi)
[ "$size" -gt $((1 << 30)) ] || fail "big.avi is $size bytes, not past 1 GiB"
# The OpenDML parts: a second RIFF list (AVIX) and the stream's super index.
LC_ALL=C grep -q -a AVIX big.avi || fail "big.avi has no AVIX chunk"
LC_ALL=C grep -q -a indx big.avi || fail "big.avi has no indx super index"
got=$(ffprobe -v error -count_packets -show_entries stream=codec_tag_string,nb_read_packets \
    -of csv=p=0 big.avi)
[ "$got" = "TRVY,$frames" ] || fail "ffprobe reads '$got', expected 'TRVY,$frames'"
"$tarv" verify 'img%03d.tif' big.avi --quiet || fail "verify exited $?"
echo "big.avi: $size bytes, $frames frames, verified"
