#!/bin/sh
# Builds and installs FFmpeg with Tarv's decoder and encoder.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

usage() {
    cat <<'EOF'
usage: ffmpeg/build.sh [OPTIONS] SRC PREFIX [CONFIGURE OPTION...]

Applies Tarv's patch series to the FFmpeg source tree SRC (a distribution's
source package or a release tarball, 5.1.x or 7.1.x), configures it with
--prefix=PREFIX and the options given after PREFIX, builds it in a folder of
its own and installs it. Running it again on the same tree continues where it
stopped: a series already applied by this script is not applied twice.

  --build-dir DIR  where to build (default: SRC/tarv-build)
  --jobs N         make -jN (default: one per processor)
  --patches DIR    apply the series in DIR instead of ffmpeg/5.1 or ffmpeg/7.1
  --minimal        only what Tarv's tests need: the codec, AVI, NUT, rawvideo,
                   the hashing and null muxers and lavfi's test sources; static
                   libraries, ffmpeg and ffprobe, no assembly
  --sanitize       with --minimal: clang with AddressSanitizer,
                   UndefinedBehaviorSanitizer and libFuzzer's coverage, and
                   FFmpeg's decoder fuzzer for Tarv (PREFIX/bin/
                   target_dec_tarv_fuzzer); needs clang and libclang-rt-dev
  --shared         with --minimal: shared libraries that can stand in for the
                   distribution's libavcodec and libavformat of the same
                   version: also the parts whose symbols its other FFmpeg
                   libraries import (FFT, RDFT, DCT, MDCT, ELBG, the DV and
                   MPEG-TS demuxers) and the PNG encoder (mpv's --vo=image)
  -h, --help       this text
EOF
}

fail() {
    echo "build.sh: $*" >&2
    exit 1
}

builddir='' jobs='' patches='' minimal='' sanitize='' shared=''
while [ $# -gt 0 ]; do
    case $1 in
    --build-dir | --jobs | --patches)
        [ $# -ge 2 ] || { echo "build.sh: $1 needs a value" >&2; exit 64; }
        case $1 in
        --build-dir) builddir=$2 ;;
        --jobs) jobs=$2 ;;
        --patches) patches=$2 ;;
        esac
        shift 2
        ;;
    --minimal) minimal=1; shift ;;
    --sanitize) sanitize=1; shift ;;
    --shared) shared=1; shift ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
    -*) echo "build.sh: unknown option $1 (see --help)" >&2; exit 64 ;;
    *) break ;;
    esac
done
if [ $# -lt 2 ]; then
    usage >&2
    exit 64
fi
{ [ -n "$sanitize" ] || [ -n "$shared" ]; } && [ -z "$minimal" ] &&
    { echo "build.sh: --sanitize and --shared go with --minimal" >&2; exit 64; }
[ -n "$sanitize" ] && [ -n "$shared" ] &&
    { echo "build.sh: --sanitize and --shared build different things; choose one" >&2; exit 64; }
case ${jobs:-1} in
'' | *[!0-9]* | 0) echo "build.sh: --jobs needs a positive whole number" >&2; exit 64 ;;
esac
[ -n "$jobs" ] || jobs=$(nproc 2>/dev/null || echo 1)

src=$1 prefix=$2
shift 2
[ -f "$src/configure" ] && [ -d "$src/libavcodec" ] || fail "$src is no FFmpeg source tree"
src=$(cd "$src" && pwd)
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac
builddir=${builddir:-$src/tarv-build}

# ---- Which FFmpeg ------------------------------------------------------------
# The release number a tarball (VERSION) or a checkout (RELEASE) names, as
# MAJOR.MINOR; libavcodec's own version must agree with it.
named=''
for file in VERSION RELEASE; do
    [ -f "$src/$file" ] || continue
    named=$(sed -n '1s/^n\{0,1\}\([0-9][0-9]*\.[0-9][0-9]*\).*/\1/p' "$src/$file")
    [ -n "$named" ] && break
done
lavc_version() {
    sed -n "s/^#define LIBAVCODEC_VERSION_$1 *\([0-9][0-9]*\).*/\1/p" \
        "$src"/libavcodec/version.h "$src"/libavcodec/version_major.h 2>/dev/null | head -n 1
}
major=$(lavc_version MAJOR) minor=$(lavc_version MINOR)
from_lavc=''
case $major in
59) [ "${minor:-0}" -ge 37 ] && from_lavc=5.1 ;;
61) [ "${minor:-0}" -ge 19 ] && from_lavc=7.1 ;;
esac
version=${named:-$from_lavc}
[ -n "$version" ] || fail "cannot tell which FFmpeg $src is (no VERSION or RELEASE file," \
    "libavcodec ${major:-?}.${minor:-?}); Tarv's series are for FFmpeg 5.1.x and 7.1.x"
case $version in
5.1 | 7.1) ;;
*) fail "$src is FFmpeg $version; Tarv's series are for FFmpeg 5.1.x and 7.1.x" ;;
esac
[ "$version" = "$from_lavc" ] || fail "$src names release $version but its libavcodec is" \
    "${major:-?}.${minor:-?}, which is not $version's; is it a mixed tree?"

# ---- The series --------------------------------------------------------------
patches=${patches:-$here/$version}
[ -d "$patches" ] || fail "no series at $patches"
patches=$(cd "$patches" && pwd)
series=$(find "$patches" -maxdepth 1 -name '*.patch' | LC_ALL=C sort)
[ -n "$series" ] || fail "no patches (*.patch) in $patches"
# What this script applied is recorded in SRC: the same series again is a
# re-run; anything else means the tree is not the pristine one it needs.
marker=$src/.tarv-series
digest=$(cat $series | sha256sum | cut -d ' ' -f 1)
if [ -f "$marker" ]; then
    [ "$(cat "$marker")" = "$digest" ] ||
        fail "$src already holds a different Tarv series; start from a fresh source tree"
    echo "build.sh: the series in $patches is already applied to $src" >&2
elif grep -q 'AV_CODEC_ID_TARV' "$src/libavcodec/codec_id.h"; then
    fail "$src already knows Tarv (AV_CODEC_ID_TARV in libavcodec/codec_id.h), but not through" \
        "this script; start from a fresh source tree"
else
    # Each patch is tried before it is applied; at the first that does not
    # apply, the ones applied are taken back, leaving the tree as it was.
    applied=''
    for patch in $series; do
        if ! log=$(patch -d "$src" -p1 -N -s --dry-run <"$patch" 2>&1); then
            for done_patch in $applied; do
                patch -d "$src" -p1 -R -s <"$done_patch" >/dev/null ||
                    fail "$(basename "$patch") does not apply, and taking back" \
                        "$(basename "$done_patch") failed too: $src is damaged"
            done
            echo "$log" | head -n 20 >&2
            fail "$(basename "$patch") does not apply to $src (FFmpeg $version);" \
                "the tree is left as it was"
        fi
        patch -d "$src" -p1 -N -s <"$patch" >/dev/null
        applied="$patch $applied"
    done
    echo "$digest" >"$marker"
    echo "build.sh: applied $(echo "$series" | wc -l) patches from $patches to $src" >&2
fi

# ---- Configure, build, install -----------------------------------------------
# Each set is put in front of what follows it, so the line configure reads is
# --disable-everything first, then what --minimal, --sanitize and --shared
# enable, then the options given after PREFIX, which have the last word.
if [ -n "$shared" ]; then
    # fft...mdct, cinepak (ELBG) and the DV and MPEG-TS demuxers export symbols
    # that the distribution's libavfilter and libavdevice import.
    set -- --enable-shared --disable-static --enable-rpath \
        --enable-fft --enable-rdft --enable-dct --enable-mdct \
        --enable-encoder=cinepak,png --enable-demuxer=dv,mpegts --enable-zlib "$@"
fi
if [ -n "$sanitize" ]; then
    # Not --enable-ossfuzz: it empties the codec list that ffmpeg and ffprobe
    # find codecs in, and they are tested here too.
    set -- --cc=clang --cxx=clang++ --ld=clang --optflags=-O1 --disable-stripping \
        --extra-cflags='-fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-omit-frame-pointer' \
        --extra-ldflags='-fsanitize=address,undefined' --libfuzzer=-fsanitize=fuzzer "$@"
fi
if [ -n "$minimal" ]; then
    set -- --disable-everything --disable-doc --disable-autodetect --disable-x86asm \
        --enable-decoder=tarv,rawvideo,wrapped_avframe \
        --enable-encoder=tarv,rawvideo,wrapped_avframe \
        --enable-demuxer=avi,nut,rawvideo \
        --enable-muxer=avi,nut,rawvideo,framemd5,framecrc,md5,streamhash,null \
        --enable-protocol=file,pipe --enable-indev=lavfi \
        --enable-filter=testsrc,testsrc2,format,null,scale,split,select,setpts \
        "$@"
fi
set -- --prefix="$prefix" "$@"
mkdir -p "$builddir"
cd "$builddir"
# A build configured the same way from the same tree and series is only
# brought up to date: configure alone takes most of a minute.
options=$(printf '%s\n' "$src" "$digest" "$@")
if [ -f ffbuild/config.mak ] && [ -f tarv-configure ] && [ "$(cat tarv-configure)" = "$options" ]; then
    echo "build.sh: FFmpeg $version in $builddir is configured as asked" >&2
else
    rm -f tarv-configure
    echo "build.sh: configuring FFmpeg $version in $builddir" >&2
    if ! "$src/configure" "$@" >configure.out 2>&1; then
        tail -n 20 configure.out >&2
        fail "configure failed (its log: $builddir/ffbuild/config.log)"
    fi
    echo "$options" >tarv-configure
fi
# configure passes over a name it does not know in a list without a word.
for component in decoder encoder; do
    grep -qx "#define CONFIG_TARV_$(echo $component | tr a-z A-Z) 1" config.h config_components.h \
        2>/dev/null || fail "configure did not enable the tarv $component: does the series add it?"
done
make -j"$jobs" >make.out 2>&1 || { tail -n 30 make.out >&2; fail "make failed (its output: $builddir/make.out)"; }
make install >>make.out 2>&1 || { tail -n 30 make.out >&2; fail "make install failed"; }
if [ -n "$sanitize" ]; then
    # FFmpeg's decoder fuzzer finds the decoder by its ID here, which needs no
    # --enable-ossfuzz. A codec ID it names that this release lacks (5.1.9's
    # names RTV1, from a later release) becomes a value no codec has.
    defines=-DFFMPEG_CODEC=AV_CODEC_ID_TARV n=1000
    for id in $(grep -o 'AV_CODEC_ID_[A-Z0-9_]*' "$src/tools/target_dec_fuzzer.c" | sort -u); do
        grep -qw "$id" "$src/libavcodec/codec_id.h" || { n=$((n + 1)); defines="$defines -D$id=-$n"; }
    done
    mkdir -p tools
    make -j"$jobs" --eval="tools/target_dec_tarv_fuzzer.o: tools/target_dec_fuzzer.c ; \$(COMPILE_C) $defines" \
        tools/target_dec_tarv_fuzzer >>make.out 2>&1 ||
        { tail -n 30 make.out >&2; fail "the decoder fuzzer did not build"; }
    cp tools/target_dec_tarv_fuzzer "$prefix/bin/"
fi
echo "build.sh: FFmpeg $version with Tarv installed in $prefix (built in $builddir)" >&2
