#!/bin/bash
# Damaged Tarv AVI files: a damaged index or chunk header loses nothing (every
# frame and all the sound the movi list holds come back, with a warning); a
# file cut short is an error, and with --keep-going gives back its whole
# frames and their sound, naming what is lost (exit status 3):
#   bash damaged_test.sh TARV_BINARY DATA_DIR WORK_DIR
set -u

. "$(dirname "$0")/lib.sh"

ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=64x48:rate=25,noise=alls=20:allf=t,format=rgb24" \
    -f lavfi -i sine=f=440:duration=2 -frames:v 50 -c:v rawvideo -c:a pcm_s16le clip.nut ||
    fail "ffmpeg could not make clip.nut"
run encode clip.nut good.avi --quiet
expect "damaged: encode" 0 || finish
sound() { ffmpeg -v error -nostdin -i "$1" -map 0:a -f md5 -; }
run decode good.avi good.nut --quiet
expect "damaged: decode the intact file" 0 || finish
good_sound=$(sound good.nut)

# flip FILE OFFSET MASK: the byte at OFFSET becomes itself xor MASK.
flip() {
    python3 - "$@" <<'PYTHON'
import sys
path, offset, mask = sys.argv[1], int(sys.argv[2]), int(sys.argv[3], 0)
with open(path, "r+b") as f:
    f.seek(offset)
    byte = f.read(1)[0]
    f.seek(offset)
    f.write(bytes([byte ^ mask]))
PYTHON
}
# Packet positions are where a chunk's data starts, 8 bytes past its header.
positions() { ffprobe -v error -select_streams "$1" -show_entries packet=pos -of csv=p=0 good.avi; }
index=$(grep -obUaF idx1 good.avi | tail -1 | cut -d: -f1)
cp good.avi index.avi
# The third byte of the offset of the index's first entry: libavformat takes
# every offset relative to that one.
flip index.avi $((index + 8 + 10)) 0x01
cp good.avi size.avi
# The second audio chunk claims 256 bytes more than it holds.
flip size.avi $(($(positions a:0 | sed -n 2p) - 3)) 0x01
frame=$(positions v:0 | sed -n 31p)
head -c $((frame + 100)) good.avi >cut.avi
# No index, and the ids of the video chunks either side of an audio chunk
# zeroed: the audio chunk between them is read.
cp good.avi gap.avi
printf JUNK | dd of=gap.avi bs=1 seek="$index" conv=notrunc status=none
for n in 10 12; do
    printf '\0\0\0\0' | dd of=gap.avi bs=1 seek=$(($(ffprobe -v error -show_entries packet=pos -of csv=p=0 good.avi | sed -n ${n}p) - 8)) conv=notrunc status=none
done
# Sound outlasts the video, and the file ends inside its last chunk.
ffmpeg -v error -nostdin -f lavfi -i sine=f=330:duration=4 sound.wav || fail "ffmpeg could not make sound.wav"
run encode clip.nut sound.wav long.avi --quiet
expect "damaged: encode with a longer sound" 0 || finish
last=$(ffprobe -v error -show_entries packet=pos -of csv=p=0 long.avi | sort -n | tail -1)
head -c $((last + 100)) long.avi >longcut.avi
# Frame 1's header unreadable, and an index that cannot tell what it was.
cp index.avi lost.avi
printf '\336\255\276\357\336\255\276\357' |
    dd of=lost.avi bs=1 seek=$(($(positions v:0 | sed -n 2p) - 8)) conv=notrunc status=none

# Columns: input | options ("-": none) | exit status | frames in the output,
# the first ones of clip.nut ("-": none written; "~N": N frames, some missing)
# | sound the same as the intact file's (yes/no) | texts on stderr, separated
# by ";".
while IFS='|' read -r input options status frames same texts <&3; do
    name="damaged: decode $input $options"
    rm -f fail/out.nut
    IFS=';' read -ra wanted <<<"$texts"
    opts=()
    [ "$options" != - ] && opts=($options)
    run decode "$input" fail/out.nut "${opts[@]}"
    expect "$name" "$status" "${wanted[@]}" || continue
    if [ "$frames" = - ]; then
        nothing_left "$name" fail
        continue
    fi
    if [ "${frames#\~}" != "$frames" ]; then
        got=$(hashes fail/out.nut bgr24 | grep -c .)
        [ "$got" = "${frames#\~}" ] || fail "$name: expected ${frames#\~} frames, got $got"
    else
        expected=$(hashes clip.nut bgr24 | head -n "$frames")
        [ "$(hashes fail/out.nut bgr24)" = "$expected" ] ||
            fail "$name: expected the first $frames frames of clip.nut, got $(hashes fail/out.nut bgr24 | grep -c .)"
    fi
    if [ "$same" = yes ] && [ "$(sound fail/out.nut)" != "$good_sound" ]; then
        fail "$name: expected the sound of the intact file"
    fi
done 3<<'TABLE'
index.avi|-|0|50|yes|index.avi: its index does not match its chunks;all 50 frames;nothing lost
size.avi|-|0|50|yes|size.avi: 1 damaged chunk header mended;all 50 frames;nothing lost
cut.avi|-|2|-|no|cut.avi: frame 30: damaged frame: the file ends inside it;--keep-going keeps the 30 frames
cut.avi|--keep-going|3|30|no|cut.avi: kept 30 of 50 frames; the file ends inside frame 30;s of sound lost
good.avi|--keep-going|0|50|yes|
longcut.avi|-|2|-|no|longcut.avi: the file ends inside the sound after frame 49;s of sound lost;--keep-going keeps its 50 frames
longcut.avi|--keep-going|3|50|no|longcut.avi: kept 50 frames; the file ends inside the sound after frame 49;s of sound lost
lost.avi|-|2|-|no|lost.avi: its index does not match its chunks;hold no readable chunk;49 of 50 frames;tarv decode --keep-going reads on past it
lost.avi|--keep-going|3|~49|no|hold no readable chunk;49 of 50 frames
gap.avi|--keep-going|3|~48|yes|gap.avi: bytes;hold no readable chunk (and 1 more place);48 of 50 frames;what the unreadable bytes held is unknown
TABLE

# info counts the frames and packets the file holds, as in the intact file,
# and says what is wrong with it.
run info good.avi
intact=$(grep '^  stream' logs/out)
while IFS='|' read -r input texts <&3; do
    IFS=';' read -ra wanted <<<"$texts"
    run info "$input"
    expect "damaged: info $input" 0 && expect_stdout "damaged: info $input" "${wanted[@]}" || continue
    [ "$input" = cut.avi ] || [ "$(grep '^  stream' logs/out)" = "$intact" ] ||
        fail "damaged: info $input: expected the streams of the intact file, got $(brief logs/out)"
done 3<<'TABLE'
index.avi|50 frames;damaged: its index does not match its chunks
size.avi|50 frames;damaged: 1 damaged chunk header mended
cut.avi|30 frames;cut short: the file ends inside frame 30 of stream 0
TABLE

finish
