# Sourced by the tests of an FFmpeg built with Tarv's patches, which run as
#   bash SCRIPT TARV_BINARY DATA_DIR WORK_DIR PREFIX
# PREFIX is where that FFmpeg is installed. The tool tests' helpers
# (../tool/lib.sh) come with this: clips are made by the ffmpeg on PATH, while
# pictures and packets are hashed by the FFmpeg under test, $ff.
if [ $# -ne 4 ]; then
    echo "usage: bash $(basename "$0") TARV_BINARY DATA_DIR WORK_DIR PREFIX" >&2
    exit 2
fi
prefix=$(cd "$4" && pwd) || exit 2
ff=$prefix/bin/ffmpeg fp=$prefix/bin/ffprobe
if [ ! -x "$ff" ] || [ ! -x "$fp" ]; then
    echo "no ffmpeg and ffprobe in $prefix/bin: is FFmpeg built there?" >&2
    exit 2
fi
set -- "$1" "$2" "$3"
. "$(dirname "${BASH_SOURCE[0]}")/../tool/lib.sh"
hash_ffmpeg=$ff

# Runs the ffmpeg under test like run() runs tarv: status in $rc, output in
# logs/out and logs/err. A sanitizer's report is a failure whatever the status.
ffrun() {
    "$ff" -v error -nostdin "$@" </dev/null >logs/out 2>logs/err
    rc=$?
    if grep -qE 'Sanitizer|runtime error:' logs/err; then
        fail "ffmpeg $*: a sanitizer report: $(grep -m 3 -E 'Sanitizer|runtime error:|#[0-9] ' logs/err | tr '\n' ' ')"
    fi
}

# probe FILE ENTRIES: what ffprobe under test says of FILE's video stream, as
# one line of comma-separated values.
probe() {
    "$fp" -v error -select_streams v:0 -show_entries "$2" -of csv=p=0 "$1" | tr '\n' ' ' |
        sed 's/ $//'
}

# The pixel format FFmpeg's Tarv decoder gives for a FourCC.
decoder_format() { case $1 in TRVY) echo yuv422p ;; TRVR) echo gbrp ;; esac; }

# coded_clip NAME CODEC SIZE FRAMES [RATE]: NAME.nut, a clip in the packed
# format the tool codes CODEC (yuy2, rgb24) from, and NAME.avi, tarv encode's
# file of it. False, the failure counted, when tarv encode fails.
coded_clip() {
    local pix=bgr24
    [ "$2" = yuy2 ] && pix=yuyv422
    make_clip "$1.nut" "$pix" "$3" "$4" "${@:5}"
    run encode "$1.nut" "$1.avi" --codec "$2"
    expect "$1: tarv encode" 0
}

# row_avi CLIP CODEC SIZE FRAMES: $name.avi for a row of a test table, name
# being CLIP's base name: a copy of DATA_DIR/CLIP when CODEC is -, else a
# coded_clip.
row_avi() {
    name=${1##*/} name=${name%.avi}
    if [ "$2" = - ]; then
        cp "$data/$1" "$name.avi"
    else
        coded_clip "$name" "$2" "$3" "$4"
    fi
}

# le32 N, le64 N: N as little-endian bytes on stdout.
le32() { printf "$(printf '\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
le64() { le32 $(($1 & 0xffffffff)) && le32 $(($1 >> 32 & 0xffffffff)); }
