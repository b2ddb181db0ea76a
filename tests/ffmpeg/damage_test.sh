#!/bin/bash
# Damaged Tarv files through FFmpeg built with the sanitizers: a damaged frame
# costs that frame alone, with a message, and nothing reads out of bounds:
#   bash damage_test.sh TARV_BINARY DATA_DIR WORK_DIR PREFIX
set -u

. "$(dirname "$0")/lib.sh"

# flip FILE OFFSET COUNT: inverts COUNT bytes of FILE from OFFSET on.
flip() {
    local byte bytes=''
    for byte in $(od -An -v -tu1 -j "$2" -N "$3" "$1"); do
        bytes+=$(printf '\\%03o' $((255 - byte)))
    done
    printf "$bytes" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# frames FILE: FILE's pictures as "index hash" lines in FILE.frames, by the
# FFmpeg under test, which goes on past any number of bad frames; its messages
# are in logs/err. A frame's time is its index.
frames() {
    ffrun -max_error_rate 1 -i "$1" -map 0:v -fps_mode passthrough -f framemd5 -
    awk -F', *' '!/^#/ { print $2, $6 }' logs/out >"$1.frames"
}

# Frame by frame: 1 has an impossible record count in its first bytes, 3 has
# bytes inverted in the middle, 4 a payload cut in half (its AVI chunk made
# shorter, a JUNK chunk filling the rest) and 5, the last, is cut off by the
# end of the file. 0 and 2 are whole. A payload's table counts the frame's
# samples, so the decoder notices one that ends too soon.
for codec in yuy2 rgb24; do
    name="damaged $codec"
    coded_clip "$codec" "$codec" 65x33 6 1 || continue
    format=$(decoder_format "$(probe "$codec.avi" stream=codec_tag_string)")
    run decode "$codec.avi" "$codec.ref.nut" --pix-fmt "$format"
    expect "$name: tarv decode" 0 || continue
    frames "$codec.ref.nut"

    mapfile -t pos < <(probe "$codec.avi" packet=pos | tr ' ' '\n')
    mapfile -t size < <(probe "$codec.avi" packet=size | tr ' ' '\n')
    file=$codec.damaged.avi
    head -c $((pos[5] + size[5] / 2)) "$codec.avi" >"$file"
    printf '\377\377\377\377' | dd of="$file" bs=1 seek="${pos[1]}" conv=notrunc status=none
    flip "$file" $((pos[3] + size[3] / 2)) 16
    half=$((size[4] / 2 & ~1))
    junk=$((size[4] + size[4] % 2 - half - 8))
    le32 "$half" | dd of="$file" bs=1 seek=$((pos[4] - 4)) conv=notrunc status=none
    { printf JUNK && le32 "$junk"; } | dd of="$file" bs=1 seek=$((pos[4] + half)) conv=notrunc status=none
    got=$(probe "$file" packet=size | cut -d ' ' -f 5)
    [ "$got" = "$half" ] || fail "$name: expected FFmpeg to read frame 4 as $half bytes, got '$got'"

    frames "$file"
    expect "$name: ffmpeg decodes" 0 "Invalid data" || continue
    for frame in 0 2; do
        grep -qxF "$(grep "^$frame " "$codec.ref.nut.frames")" "$file.frames" ||
            fail "$name: expected frame $frame whole, got: $(tr '\n' ' ' <"$file.frames")"
    done
    # Inverted bytes may still decode; the frame is then merely wrong.
    for frame in 1 4 5; do
        ! grep -q "^$frame " "$file.frames" ||
            fail "$name: expected damaged frame $frame left out, got: $(tr '\n' ' ' <"$file.frames")"
    done
done

finish
