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

# The pixel format FFmpeg's Tarv decoder gives for a FourCC, and the tool's
# codec name for it.
decoder_format() { case $1 in TRVY) echo yuv422p ;; TRVR) echo gbrp ;; esac; }
tool_codec() { case $1 in TRVY) echo yuy2 ;; TRVR) echo rgb24 ;; esac; }

# le32 N, le64 N: N as little-endian bytes on stdout.
le32() { printf "$(printf '\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"; }
le64() { le32 $(($1 & 0xffffffff)) && le32 $(($1 >> 32 & 0xffffffff)); }
