#!/bin/bash
# Debian's own mpv plays Tarv AVI files with the series' shared libavcodec and
# libavformat in place of Debian's, every other library (libavfilter,
# libavdevice, ...) Debian's and loaded against them:
#   bash mpv_test.sh TARV_BINARY DATA_DIR WORK_DIR PREFIX
# PREFIX is a --shared build of FFmpeg 5.1.
set -u

. "$(dirname "$0")/lib.sh"
if ! command -v mpv >/dev/null; then
    fail "mpv is not installed (the README's test command installs it)"
    finish
fi
mkdir libs
for lib in libavcodec.so.59 libavformat.so.59; do
    if [ ! -e "$prefix/lib/$lib" ]; then
        fail "no $lib in $prefix/lib: not a --shared build of FFmpeg 5.1"
        finish
    fi
    ln -s "$prefix/lib/$lib" libs/
done

# Every symbol bound at start (LD_BIND_NOW), so one that the patched libraries
# lack fails at once rather than when first called.
with_libs() { LD_LIBRARY_PATH=$PWD/libs${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} LD_BIND_NOW=1 "$@"; }

# The two from libs/, FFmpeg's others (libavfilter and libavdevice among them)
# Debian's, not the build's own.
count=0
while read -r lib _ where _; do
    count=$((count + 1))
    case $lib in
    libavcodec.so.59 | libavformat.so.59) [ "$where" = "$PWD/libs/$lib" ] ;;
    *) [ "${where#"$prefix"/}" = "$where" ] ;;
    esac || fail "expected mpv to load the patched libavcodec and libavformat from libs/" \
        "and Debian's other FFmpeg libraries, it loads $lib from $where"
done < <(with_libs ldd "$(command -v mpv)" | grep -E '^\s*lib(av|sw|postproc)')
[ "$count" -ge 6 ] || fail "expected mpv to load FFmpeg's libraries, ldd shows $count of them"
with_libs mpv --no-config --version >logs/out 2>logs/err ||
    fail "mpv does not start on the patched libraries: $(brief logs/err)"

# play NAME FILE FRAMES: mpv's pictures of FILE, as PNG images, in NAME/ and as
# rgb24 frames in NAME.rgb (turned so by the ffmpeg on PATH).
play() {
    with_libs mpv --no-config --msg-level=all=error --untimed --ao=null --vo=image --vo-image-format=png \
        --vo-image-outdir="$1" --frames="$3" "$2" </dev/null >logs/err 2>&1
    local got
    got=$(find "$1" -name '*.png' 2>/dev/null | wc -l)
    if [ "$got" -ne "$3" ]; then
        fail "mpv $2: expected $3 pictures, got $got: $(brief logs/err)"
        return 1
    fi
    ffmpeg -v error -nostdin -i "$1/%08d.png" -f rawvideo -pix_fmt rgb24 "$1.rgb"
}

# Each file's pictures equal those mpv shows of `tarv decode`'s frames in the
# decoder's own format: the same conversion to RGB on both sides. TRVR's are
# also `tarv decode`'s own rgb24 frames, exactly.
# Columns: clip (or a file in DATA_DIR), tool codec, size, frames.
while read -r clip codec size frames <&3; do
    row_avi "$clip" "$codec" "$size" "$frames" || continue
    tag=$(probe "$name.avi" stream=codec_tag_string)
    frames=$(probe "$name.avi" stream=nb_frames)
    run decode "$name.avi" "$name.ref.nut" --pix-fmt "$(decoder_format "$tag")"
    expect "$name: tarv decode" 0 || continue
    play "$name.mpv" "$name.avi" "$frames" && play "$name.ref.mpv" "$name.ref.nut" "$frames" || continue
    cmp -s "$name.mpv.rgb" "$name.ref.mpv.rgb" ||
        fail "$name: expected mpv to show the frames of tarv decode, they differ"
    if [ "$tag" = TRVR ]; then
        run decode "$name.avi" "$name.ref.rgb" --format rawvideo --pix-fmt rgb24
        expect "$name: tarv decode to rgb24" 0 && cmp -s "$name.mpv.rgb" "$name.ref.rgb" ||
            fail "$name: expected mpv's pictures to be tarv decode's rgb24 frames, they differ"
    fi
done 3<<'TABLE'
yuy2 yuy2 64x48 5
rgb24_odd rgb24 33x17 5
windows/tarvy.avi - - -
windows/tarvr_avisave.avi - - -
TABLE

finish
