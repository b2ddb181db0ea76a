#!/bin/sh
# Checks AVI files written by the Wine host test with FFmpeg's tools:
#   check_avi.sh DIR NAME:TAG:WIDTH:HEIGHT:FRAMES...
# Each DIR/NAME.avi must hold one stream, video with that codec tag, size and
# frame count, and must stream-copy to a new AVI that reads the same.
# Fails without ffprobe and ffmpeg, as when a file is missing.
set -u
dir=$1
shift
if ! command -v ffprobe >/dev/null || ! command -v ffmpeg >/dev/null; then
    echo "FAILED: ffprobe and ffmpeg are not installed (Debian's ffmpeg package)"
    exit 1
fi

streams() {
    # Packets, since FFmpeg has no decoder for these tags to count frames with.
    ffprobe -v error -count_packets \
        -show_entries stream=codec_type,codec_tag_string,width,height,nb_read_packets \
        -of csv=p=0 "$1"
}

packets() {
    ffmpeg -v error -nostdin -i "$1" -map 0 -c copy -f framemd5 - | grep -v '^#'
}

status=0
for expected in "$@"; do
    IFS=: read -r name tag width height frames <<EXPECTED
$expected
EXPECTED
    file=$dir/$name.avi
    copy=$dir/$name.copy.avi
    expected="video,$tag,$width,$height,$frames"
    if [ ! -f "$file" ]; then
        echo "FAILED $file: missing (the Wine host test did not write it)"
        status=1
        continue
    fi
    got=$(streams "$file")
    if [ "$got" != "$expected" ]; then
        echo "FAILED $file: ffprobe says '$got', expected '$expected'"
        status=1
        continue
    fi
    rm -f "$copy"
    if ! ffmpeg -v error -nostdin -i "$file" -map 0 -c copy "$copy"; then
        echo "FAILED $file: ffmpeg -c copy failed"
        status=1
        continue
    fi
    got=$(streams "$copy")
    if [ "$got" != "$expected" ]; then
        echo "FAILED $copy: ffprobe says '$got', expected '$expected'"
        status=1
        continue
    fi
    # The copy carries every frame's bytes unchanged.
    if [ "$(packets "$file")" != "$(packets "$copy")" ]; then
        echo "FAILED $copy: its packets differ from those of $file"
        status=1
        continue
    fi
    echo "ok $file: $got"
done
exit $status
