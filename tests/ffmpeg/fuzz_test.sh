#!/bin/bash
# FFmpeg's decoder fuzzer for Tarv (a --sanitize build), for a bounded time,
# from seeds made of real Tarv payloads:
#   bash fuzz_test.sh TARV_BINARY DATA_DIR WORK_DIR PREFIX SECONDS
set -u
if [ $# -ne 5 ]; then
    echo "usage: bash fuzz_test.sh TARV_BINARY DATA_DIR WORK_DIR PREFIX SECONDS" >&2
    exit 2
fi
seconds=$5
set -- "${@:1:4}"
. "$(dirname "$0")/lib.sh"
fuzzer=$prefix/bin/target_dec_tarv_fuzzer
[ -x "$fuzzer" ] || { fail "no $fuzzer: not a --sanitize build"; finish; }

# A seed is what tools/target_dec_fuzzer.c reads: packets separated by
# "FUZZ-TAG", then 1024 bytes of decoder settings, of which these are used:
# width, height, bit rate, bits per coded sample, flags, extradata size,
# sample rate, channels, block align, FourCC (as an index into the decoder's
# list: 0 TRVY, 1 TRVR), key frame bits (every packet a key frame), channel
# layout, IDCT, flush bits (none) and frame skipping.
settings() {
    local width=$1 height=$2 bits=$3 tag=0
    [ "$4" = TRVR ] && tag=1
    {
        le32 "$width" && le32 "$height" && le64 0 && le32 "$bits" && printf '\0'
        le32 0 && le32 0 && le32 0 && le32 0 && le32 "$tag"
        le64 0xAAAAAAAAAAAAAAAA && le64 0 && printf '\0' && le64 -1
        printf '\316'
        head -c 1024 /dev/zero
    } | head -c 1024
}

# One seed of a clip's payloads, and one of each payload alone.
mkdir seeds
while read -r codec size bits <&3; do
    tag=TRVR
    [ "$codec" = yuy2 ] && tag=TRVY
    clip=$codec.$size
    coded_clip "$clip" "$codec" "$size" 3 || continue
    ffrun -i "$clip.avi" -map 0:v -c copy -f rawvideo "$clip.payloads"
    expect "seeds: payloads of $clip" 0 || continue
    offset=0 n=0
    for length in $(probe "$clip.avi" packet=size | tr ' ' '\n'); do
        tail -c +$((offset + 1)) "$clip.payloads" | head -c "$length" >"$clip.$n"
        { cat "$clip.$n" && settings "${size%x*}" "${size#*x}" "$bits" "$tag"; } >"seeds/$clip.$n"
        offset=$((offset + length)) n=$((n + 1))
    done
    for ((i = 0; i < n; i++)); do
        [ $i -gt 0 ] && printf FUZZ-TAG
        cat "$clip.$i"
    done >"$clip.all"
    { cat "$clip.all" && settings "${size%x*}" "${size#*x}" "$bits" "$tag"; } >"seeds/$clip"
done 3<<'TABLE'
yuy2 32x24 16
yuy2 33x17 16
rgb24 32x24 24
rgb24 33x17 24
TABLE

if ! bash "$(dirname "$0")/../fuzz/run.sh" "$fuzzer" "$seconds" fuzz seeds >logs/fuzz 2>&1; then
    fail "the fuzzer found a fault (inputs in $PWD/fuzz/artifacts): $(grep -m 5 -E 'ERROR|SUMMARY|runtime error' logs/fuzz | tr '\n' ' ')"
fi
grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs)' logs/fuzz
finish
