#!/bin/bash
# Tarv AVI files played by VLC through the module, every frame checked against
# what `tarv decode` gives:
#   bash vlc_test.sh TARV_BINARY PLAYER MODULE_DIR DATA_DIR WORK_DIR
# PLAYER is tarv_vlc_play, MODULE_DIR the folder holding the module under
# test. WORK_DIR is emptied first. Prints one FAILED line per failing case and
# exits 1 when there is one, 0 when all pass, 77 (skipped) without ffmpeg and
# ffprobe.
set -u

if [ $# -ne 5 ]; then
    echo "usage: bash vlc_test.sh TARV_BINARY PLAYER MODULE_DIR DATA_DIR WORK_DIR" >&2
    exit 2
fi
. "$(dirname "$0")/../support/need_ffmpeg.sh"
tarv=$(absolute "$1") player=$(absolute "$2") data=$(absolute "$4") work=$5
VLC_PLUGIN_PATH=$(absolute "$3")
export VLC_PLUGIN_PATH
mkdir -p "$work" && cd "$work" || exit 2
rm -rf ./*

failures=0
fail() {
    echo "FAILED $*"
    failures=$((failures + 1))
}

# make_clip FILE.avi CODEC WxH FRAMES: a noisy test pattern as a Tarv AVI. The
# pattern is drawn at an even size and scaled, since the noise filter rounds
# odd sizes down.
make_clip() {
    local w=${3%x*} h=${3#*x} pix=bgr24
    [ "$2" = yuy2 ] && pix=yuyv422
    local pattern="testsrc2=size=$((w + w % 2))x$((h + h % 2)):rate=25,noise=alls=20:allf=t"
    if ! ffmpeg -v error -nostdin -f lavfi -i "$pattern,scale=$w:$h,format=$pix" \
        -frames:v "$4" -c:v rawvideo "$1.nut" ||
        ! "$tarv" encode "$1.nut" "$1" --codec "$2" >/dev/null 2>&1; then
        fail "could not make $1"
        return 1
    fi
}

# play CASE FILE [REFERENCE FFMPEG_FILTER]: VLC shows the frames of `tarv
# decode REFERENCE` (FILE by default) passed through FFMPEG_FILTER, and VLC's
# messages hold the words in $expect_log.
expect_log=''
play() {
    local name=$1 file=$2 reference=${3:-$2} filter=${4:-null} tag size chroma pix
    read -r tag size < <(ffprobe -v error -select_streams v:0 -of csv=p=0 \
        -show_entries stream=codec_tag_string,width,height "$file" | tr , ' ' | sed 's/ /x/2')
    case $tag in
    TRVY) chroma=YUY2 pix=yuyv422 ;;
    TRVR) chroma=RV24 pix=rgb24 ;;
    *) fail "$name: $file is no Tarv AVI (tag '$tag')"; return ;;
    esac
    if ! "$tarv" decode "$reference" "$name.nut" >/dev/null 2>"$name.err" ||
        ! ffmpeg -v error -nostdin -i "$name.nut" -vf "$filter" -fps_mode passthrough \
            -f rawvideo -pix_fmt "$pix" "$name.raw" 2>>"$name.err"; then
        fail "$name: no frames to compare with: $(head -c 300 "$name.err")"
        return
    fi
    if ! "$player" "$VLC_PLUGIN_PATH" "$file" "$chroma" "${size%x*}" "${size#*x}" "$name.raw" \
        2>"$name.vlc"; then
        fail "$name: $(grep -v '^vlc ' "$name.vlc" | head -c 300)"
    elif [ -n "$expect_log" ] && ! grep -qF "$expect_log" "$name.vlc"; then
        fail "$name: expected '$expect_log' from VLC, got: $(head -c 300 "$name.vlc")"
    fi
}

# The module declares its licence as VLC's modules do: an exported entry that
# returns it.
module=$VLC_PLUGIN_PATH/libtarv_plugin.so
if ! nm -D --defined-only "$module" | grep -q ' vlc_entry_license__' ||
    ! strings "$module" | grep -qxF 'Licensed under the terms of the BSD 2-Clause License.'; then
    fail "$module declares no BSD 2-Clause licence"
fi

# Both codecs, an odd size for each, and files a Windows program wrote. VLC
# may leave out a file's last frame: the Windows files are also played twice
# over in one file, and the clips' last frames are just extra.
make_clip yuy2.avi yuy2 64x48 5 && play yuy2 yuy2.avi
make_clip yuy2_odd.avi yuy2 65x33 5 && play yuy2_odd yuy2_odd.avi
make_clip rgb24_odd.avi rgb24 321x241 5 && play rgb24_odd rgb24_odd.avi
for file in tarvy tarvr_avisave; do
    play "windows_$file" "$data/windows/$file.avi"
    ffmpeg -v error -nostdin -stream_loop 1 -i "$data/windows/$file.avi" -c copy \
        "${file}_twice.avi" || fail "ffmpeg could not make ${file}_twice.avi"
    play "windows_${file}_twice" "${file}_twice.avi"
done

# A damaged frame is dropped with a warning; the others still play. Its
# payload's first bytes are overwritten, which the decoder always notices.
for codec in yuy2 rgb24; do
    clip=${codec}_odd.avi
    [ -f "$clip" ] || continue
    cp "$clip" "damaged_$clip"
    pos=$(ffprobe -v error -select_streams v:0 -show_entries packet=pos -of csv=p=0 "$clip" |
        sed -n 3p)
    head -c 64 /dev/zero | dd of="damaged_$clip" bs=1 seek="$pos" conv=notrunc status=none
    expect_log=damaged play "damaged_$codec" "damaged_$clip" "$clip" "select=not(eq(n\,2))"
done

[ "$failures" -eq 0 ] || exit 1
echo "all VLC playback checks passed"
