#!/bin/bash
# FFmpeg's Tarv decoder and encoder against the tarv tool: the decoder gives
# the tool's frames, the encoder the tool's payloads, whatever the threads:
#   bash codec_test.sh TARV_BINARY DATA_DIR WORK_DIR PREFIX
# PREFIX holds the FFmpeg under test (5.1 or 7.1, any build of it).
set -u

. "$(dirname "$0")/lib.sh"

# ---- Decoding and coding again ----------------------------------------------
# The decoder's frames equal `tarv decode`'s in its own format (planar 4:2:2,
# or planar RGB turned top-down), and the encoder, given a source, writes the
# payloads `tarv encode` wrote for it: from the clip in the tool's packed
# format, or from the decoded frames in the decoder's planar one (the Windows
# files' only source), so that the encoder takes all four of its formats.
# Columns: clip (or a file in DATA_DIR), tool codec, size, frames, source.
while read -r clip codec size frames source <&3; do
    row_avi "$clip" "$codec" "$size" "$frames" || continue
    tag=$(probe "$name.avi" stream=codec_tag_string)
    format=$(decoder_format "$tag")
    got=$(probe "$name.avi" stream=codec_name,pix_fmt)
    [ "$got" = "tarv,$format" ] ||
        fail "$name: expected ffprobe to see codec tarv giving $format for $tag, got '$got'"
    run decode "$name.avi" "$name.ref.nut" --pix-fmt "$format"
    expect "$name: tarv decode" 0 || continue
    same_frames "$name: ffmpeg decodes" "$name.ref.nut" "$name.avi" "$format"

    [ "$source" = decoded ] && source=$name.ref.nut || source=$name.nut
    ffrun -i "$source" -c:v tarv "$name.ff.avi"
    expect "$name: ffmpeg -c:v tarv" 0 || continue
    got=$(probe "$name.ff.avi" stream=codec_name,codec_tag_string)
    [ "$got" = "tarv,$tag" ] || fail "$name: expected ffmpeg to write tarv as $tag, ffprobe says '$got'"
    expected=$(packets "$name.avi")
    [ -n "$expected" ] && [ "$(packets "$name.ff.avi")" = "$expected" ] ||
        fail "$name: expected ffmpeg to code $source into the payloads of $name.avi, they differ"
    run verify "$source" "$name.ff.avi"
    expect "$name: tarv verify of ffmpeg's file" 0
done 3<<'TABLE'
yuy2 yuy2 64x48 5 decoded
yuy2_odd yuy2 65x33 5 clip
rgb24 rgb24 64x48 5 clip
rgb24_odd rgb24 33x17 5 decoded
windows/tarvy.avi - - - decoded
windows/tarvr_avisave.avi - - - decoded
TABLE

# ---- Threads -----------------------------------------------------------------
# One thread or three, the same payloads and the same pictures.
make_clip threads.nut yuv422p 176x144 8
for format in yuv422p gbrp; do
    for threads in 1 3; do
        ffrun -i threads.nut -pix_fmt "$format" -c:v tarv -threads "$threads" "threads.$format.$threads.avi"
        expect "threads: encode $format with $threads" 0
        "$ff" -v error -nostdin -threads "$threads" -i "threads.$format.1.avi" -f framemd5 - \
            2>&1 >"threads.$format.$threads.md5" | head -c 300
    done
    [ -s "threads.$format.1.avi" ] &&
        [ "$(packets "threads.$format.1.avi")" = "$(packets "threads.$format.3.avi")" ] ||
        fail "threads: expected the same $format payloads from 1 and 3 threads, they differ"
    grep -q '^0,' "threads.$format.1.md5" && cmp -s "threads.$format.1.md5" "threads.$format.3.md5" ||
        fail "threads: expected the same $format pictures from 1 and 3 threads, they differ"
done

finish
