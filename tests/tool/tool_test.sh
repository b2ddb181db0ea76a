#!/bin/bash
# End-to-end runs of the tarv tool on clips made by the ffmpeg command-line
# tool, judged by FFmpeg's own frame hashes:
#   bash tool_test.sh TARV_BINARY DATA_DIR WORK_DIR
set -u

. "$(dirname "$0")/lib.sh"

# ---- Exact round trips -------------------------------------------------------
# Frames in the codec's own samples come back bit for bit through every
# output container, and the AVI holds what FFmpeg expects of a Tarv file.
# Columns: source file, its pixel format, size, frames, rate, codec tag,
# outputs (extension, or extension+encoder).
mkdir seq
while read -r source pix size frames rate tag outputs <&3; do
    name="exact $pix $size ($source)"
    make_clip "$source" "$pix" "$size" "$frames" "$rate"
    base=${source%.*}
    base=${base%\%*}
    compare=bgr24
    [ "$tag" = TRVY ] && compare=yuyv422
    run encode "$source" "$base.enc.avi"
    expect "$name: encode" 0 || continue
    no_warning "$name: encode"
    check_avi "$name" "$base.enc.avi" "$tag" "${size%x*}" "${size#*x}" "$rate" "$frames"
    for output in ${outputs//,/ }; do
        extension=${output%+*}
        decoded=$base.dec.$extension
        options=()
        [ "$output" != "$extension" ] && options=(--vcodec "${output#*+}")
        run decode "$base.enc.avi" "$decoded" "${options[@]}"
        expect "$name: decode to $output" 0 || continue
        no_warning "$name: decode to $output"
        same_frames "$name: decode to $output" "$source" "$decoded" "$compare"
    done
    run verify "$source" "$base.enc.avi"
    expect "$name: verify" 0
done 3<<'TABLE'
y422.mkv yuv422p 64x48 5 25/1 TRVY nut,avi,y4m,mkv
yuyv.nut yuyv422 66x50 4 30000/1001 TRVY avi,mkv
rgb.nut rgb24 33x17 4 30000/1001 TRVR nut,avi,mkv+ffv1
bgr.avi bgr24 64x48 3 25/1 TRVR nut,avi
gbrp.mkv gbrp 50x30 3 25/1 TRVR nut
one.nut rgb24 1x1 3 25/1 TRVR nut,avi
seq/img%03d.png rgb24 40x30 4 25/1 TRVR nut
TABLE

# ---- Conversions that are not exact ------------------------------------------
# Announced on stderr; verify applies the same conversion, so it still agrees.
# Columns: pixel format, size, codec option ("-" for the default), tag.
while read -r pix size codec tag <&3; do
    name="inexact $pix $size to $tag"
    source=inexact.$pix.$size.nut
    make_clip "$source" "$pix" "$size" 3
    options=()
    [ "$codec" != - ] && options=(--codec "$codec")
    run encode "$source" "$source.avi" "${options[@]}"
    expect "$name: encode" 0 "not exact" || continue
    check_avi "$name" "$source.avi" "$tag" "${size%x*}" "${size#*x}" 25/1 3
    run verify "$source" "$source.avi"
    expect "$name: verify" 0
done 3<<'TABLE'
yuv420p 64x48 - TRVY
yuv422p10le 64x48 - TRVY
yuv444p 64x48 rgb24 TRVR
rgb24 64x48 yuy2 TRVY
yuv422p 33x17 - TRVY
TABLE

# ---- Threads -----------------------------------------------------------------
# The bytes written do not depend on how many threads code the frames.
make_clip threads.nut yuv422p 176x144 8
for codec in yuy2 rgb24; do
    for threads in 1 3; do
        run encode threads.nut "threads.$codec.$threads.avi" --codec "$codec" --threads "$threads"
        expect "threads: encode $codec with $threads" 0
        run decode "threads.$codec.1.avi" "threads.$codec.$threads.nut" --threads "$threads"
        expect "threads: decode $codec with $threads" 0
    done
    for kind in avi nut; do
        cmp -s "threads.$codec.1.$kind" "threads.$codec.3.$kind" ||
            fail "threads: expected identical $kind files from 1 and 3 threads for $codec, they differ"
    done
done

# ---- Files written on Windows ------------------------------------------------
# Decoding (to the codec's format, or to another that holds the same samples)
# and coding again gives back every payload of the original byte for byte.
while read -r file codec frames pix <&3; do
    name="windows $file as $pix"
    original=$data/windows/$file
    decoded=win.$file.$pix.nut
    options=()
    [ "$pix" != - ] && options=(--pix-fmt "$pix")
    run decode "$original" "$decoded" "${options[@]}"
    expect "$name: decode" 0 || continue
    got=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 \
        "$decoded")
    [ "$got" = "$frames" ] || fail "$name: expected $frames decoded frames, got $got"
    # tarvy.avi has an odd width: the warning about the V sample is expected.
    run encode "$decoded" "$decoded.avi" --codec "$codec"
    expect "$name: encode again" 0 || continue
    expected=$(packets "$original")
    if [ -z "$expected" ] || [ "$(packets "$decoded.avi")" != "$expected" ]; then
        fail "$name: expected the payloads of $original again, got different packets"
    fi
done 3<<'TABLE'
tarvy.avi yuy2 6 -
tarvy.avi yuy2 6 yuv422p
tarvr_avisave.avi rgb24 5 -
TABLE

# ---- Damaged, truncated and unreadable input ---------------------------------
# Exit status 2, a message naming the file (and the frame when there is one),
# and nothing written. Payload offsets come from FFmpeg's packet positions.
make_clip damage.nut rgb24 64x48 5
run encode damage.nut good.avi --quiet
expect "damage: encode" 0
offset=$(ffprobe -v error -show_entries packet=pos -of csv=p=0 good.avi | sed -n 3p)
size=$(ffprobe -v error -show_entries packet=size -of csv=p=0 good.avi | sed -n 3p)
cp good.avi damaged.avi
# The record count at the start of frame 2's payload becomes impossible.
printf '\377\377\377\377' | dd of=damaged.avi bs=1 seek="$offset" conv=notrunc status=none
head -c $((offset + size / 2)) good.avi >truncated.avi
head -c 3000 good.avi >header_only.avi
# White noise samples: random bytes, the same on every run.
ffmpeg -v error -nostdin -f lavfi -i anoisesrc=duration=0.05:seed=7 -f s16le random.bin
printf 'not a video\n' >text.txt

while read -r command input output frame <&3; do
    name="bad input: $command $input"
    [ "$output" != - ] && name="$name to $output"
    texts=("$input")
    [ "$frame" != - ] && texts+=("frame $frame")
    if [ "$command" = verify ]; then
        run verify damage.nut "$input"
    else
        run "$command" "$input" "fail/$output"
    fi
    expect "$name" 2 "${texts[@]}"
    nothing_left "$name" fail
done 3<<'TABLE'
decode damaged.avi out.nut 2
decode damaged.avi frame%03d.png 2
decode damaged.avi out.avi 2
verify damaged.avi - 2
decode truncated.avi out.nut 2
decode header_only.avi out.nut -
decode no_such_file.avi out.nut -
encode no_such_file.nut out.avi -
decode random.bin out.nut -
encode random.bin out.avi -
encode text.txt out.avi -
decode damage.nut out.nut -
encode good.avi out.avi -
TABLE
# Frames are numbered the same whichever thread meets the damage first.
run decode damaged.avi fail/out.nut --threads 3
expect "bad input: damaged frame with 3 threads" 2 damaged.avi "frame 2"
nothing_left "bad input: damaged frame with 3 threads" fail
for command in info verify; do
    if [ $command = info ]; then run info no_such_file.avi; else run verify no_such_file.nut good.avi; fi
    expect "bad input: $command no_such_file" 2 no_such_file
done

# ---- Existing outputs: replaced only with -y, only on success, never an input ----
mkdir keep
for command in decode encode; do
    target=keep/existing.$command
    [ $command = encode ] && target=$target.avi
    echo "earlier content" >"$target"
    if [ $command = decode ]; then
        run decode damaged.avi "$target" --format nut -y
    else
        run encode good.avi "$target" --overwrite
    fi
    expect "existing output: failed $command" 2
    [ "$(cat "$target")" = "earlier content" ] ||
        fail "existing output: expected $target unchanged after the failed $command, it changed"
done
run decode good.avi keep/existing.decode --format nut
expect "existing output: decode without -y" 2 keep/existing.decode "use -y" &&
    [ "$(cat keep/existing.decode)" = "earlier content" ] ||
    fail "existing output: decode without -y changed keep/existing.decode"
run decode good.avi keep/existing.decode --format nut -y
expect "existing output: successful decode" 0 &&
    same_frames "existing output: successful decode" damage.nut keep/existing.decode bgr24
[ "$(listing keep)" = "existing.decode existing.encode.avi " ] ||
    fail "existing output: expected only the two outputs in keep, found $(listing keep)"
cp good.avi keep/input.avi
ln -s input.avi keep/link.avi
for out in keep/input.avi keep/link.avi; do
    run decode keep/input.avi "$out" --format avi -y
    expect "existing output: decode onto its input as $out" 2 "is the input" &&
        cmp -s good.avi keep/input.avi ||
        fail "existing output: decoding onto its input as $out changed it"
done

# ---- Pipes ---------------------------------------------------------------------
# "-" is standard input, and decode's standard output with --format; an AVI
# needs seeking, so encode refuses to write one to a pipe.
"$tarv" encode - piped.avi --quiet <damage.nut 2>logs/err
rc=$?
expect "pipes: encode from standard input" 0 && [ "$(packets piped.avi)" = "$(packets good.avi)" ] ||
    fail "pipes: encode from standard input: expected the packets of good.avi"
"$tarv" decode good.avi - --format nut --quiet </dev/null >piped.nut 2>logs/err
rc=$?
expect "pipes: decode to standard output" 0 &&
    same_frames "pipes: decode to standard output" damage.nut piped.nut bgr24
"$tarv" decode - from_stdin.nut --quiet <good.avi >logs/out 2>logs/err
rc=$?
expect "pipes: decode from standard input" 0 &&
    same_frames "pipes: decode from standard input" damage.nut from_stdin.nut bgr24
run decode good.avi -
expect "pipes: decode to standard output without --format" 64 "needs --format"
run encode damage.nut -
expect "pipes: encode to standard output" 64 "cannot be written to a pipe"

# ---- verify finds differences ------------------------------------------------
# Frame 2 onwards has a one-pixel-high red bar at x=5..7, y=7: verify names the
# frame and, for RGB, the pixel (y counted from the top, though rows are
# stored bottom-up).
bar=",drawbox=x=5:y=7:w=3:h=1:color=red:t=fill:enable='gte(n,2)'"
for pix in rgb24 yuv422p; do
    name="verify $pix"
    make_clip "differ.$pix.nut" "$pix" 48x32 4
    make_clip "bar.$pix.nut" "$pix" 48x32 4 25 "$bar"
    run encode "differ.$pix.nut" "differ.$pix.avi"
    expect "$name: encode" 0 || continue
    run verify "bar.$pix.nut" "differ.$pix.avi"
    expect "$name: other clip" 1 && expect_stdout "$name: other clip" "frame 2"
    [ $pix = rgb24 ] && expect_stdout "$name: other clip" "x=5, y=7"
done
ffmpeg -v error -nostdin -i differ.rgb24.nut -frames:v 2 -c copy short.nut
run verify short.nut differ.rgb24.avi
expect "verify: original shorter" 1 && expect_stdout "verify: original shorter" "first 2"
run encode short.nut short.avi
run verify differ.rgb24.nut short.avi
expect "verify: original longer" 1 && expect_stdout "verify: original longer" "first 2"
run verify threads.nut differ.rgb24.avi
expect "verify: other size" 1 && expect_stdout "verify: other size" 176x144 48x32

# ---- Help and command line ---------------------------------------------------
# Columns: arguments | what follows "usage: tarv" in the text.
while IFS='|' read -r line usage <&3; do
    run $line
    expect "help: tarv $line" 0 && expect_stdout "help: tarv $line" "usage: tarv $usage"
done 3<<'TABLE'
encode --help|encode
decode --help|decode
info --help|info
verify --help|verify
bench --help|bench
decode -h|decode
--help verify|verify
--help|COMMAND
TABLE
while read -r line <&3; do
    run $line
    expect "command line: tarv $line" 64
done 3<<'TABLE'
frobnicate
encode --bogus damage.nut fail/out.avi
encode damage.nut
decode good.avi fail/out.nut extra.nut
encode damage.nut fail/out.avi --threads 0
encode damage.nut fail/out.avi --threads
encode damage.nut fail/out.avi --codec h264
decode good.avi fail/out.nut --codec yuy2
encode damage.nut fail/out.mkv
encode damage.nut fail/x.avi fail/extra
info
TABLE
run
expect "command line: tarv" 64
nothing_left "command line" fail
run encode damage.nut UPPER.AVI
expect "command line: OUT ending in .AVI" 0
run --version
expect "command line: --version" 0 && grep -qE '^tarv [0-9]+\.[0-9]+\.[0-9]+$' logs/out ||
    fail "command line: --version: expected 'tarv VERSION', got: $(brief logs/out)"

# ---- info --------------------------------------------------------------------
run info good.avi
expect "info TRVR" 0 && expect_stdout "info TRVR" TRVR 64x48 "5 frames" "ratio "
run info y422.enc.avi
expect "info TRVY" 0 && expect_stdout "info TRVY" TRVY 64x48 "5 frames" "ratio "
# Sound: the layout by name, and the duration its packets span where the
# header gives none (PCM in AVI).
ffmpeg -v error -nostdin -f lavfi -i sine=sample_rate=48000:duration=0.2 \
    -af aformat=channel_layouts=5.1 six.wav || fail "ffmpeg could not make six.wav"
run encode damage.nut six.wav six.avi
expect "info sound: encode" 0
run info six.avi
expect "info sound" 0 && expect_stdout "info sound" "pcm_s16le, 48000 Hz, 5.1, 0.200 s"
# A stream that first appears while the file is read (a transport stream
# through a pipe, its sound joining late) is counted as its own.
ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=64x48:duration=8 -c:v mpeg2video late.ts &&
    ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=64x48:duration=0.4 \
        -f lavfi -i sine=duration=0.4 -c:v mpeg2video -c:a mp2 -f mpegts - >>late.ts ||
    fail "ffmpeg could not make late.ts"
"$tarv" info - <late.ts >logs/out 2>logs/err
rc=$?
expect "info: a stream that appears late" 0 &&
    expect_stdout "info: a stream that appears late" "stream 1: audio, mp2" "0.418 s, 16 packets"

# ---- Output names ------------------------------------------------------------
run decode good.avi fail/out.unknownext
expect "unknown extension" 2 out.unknownext
nothing_left "unknown extension" fail
run decode good.avi named.unknownext --format nut
expect "unknown extension with --format nut" 0 &&
    same_frames "unknown extension with --format nut" damage.nut named.unknownext bgr24
run decode good.avi fail/no_such_folder/out.nut
expect "missing folder" 2 no_such_folder
nothing_left "missing folder" fail

# ---- PNG images --------------------------------------------------------------
mkdir png
run decode good.avi 'png/frame%03d.png'
if expect "png images" 0; then
    got=$(listing png)
    [ "$got" = "frame001.png frame002.png frame003.png frame004.png frame005.png " ] ||
        fail "png images: expected frame001.png to frame005.png, got $got"
    same_frames "png images" damage.nut 'png/frame%03d.png' rgb24
fi

# ---- Outputs without raw video -----------------------------------------------
# A lossless encoder where the container has one (x264, VP9) brings every
# frame back, and ALAC the PCM of an MP4; what stays lossy or is left out is
# said in one line. Columns: original (its AVI is ORIGINAL.avi), output, pixel
# format to compare ("-": lossy), sound in the output (pcm: the original's
# samples), text on stderr ("-": no warning).
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=64x48:rate=25,noise=alls=20:allf=t,format=yuv422p" \
    -f lavfi -i sine=sample_rate=44100:duration=0.2 -frames:v 5 -c:v rawvideo -c:a pcm_s16le \
    outputs.nut || fail "ffmpeg could not make outputs.nut"
# Three channels: AVI names no speakers, and ALAC takes 3.0, not FFmpeg's 2.1.
ffmpeg -v error -nostdin -i outputs.nut -af aformat=channel_layouts=2.1 -c:v copy -c:a pcm_s16le \
    outputs.3ch.nut || fail "ffmpeg could not make outputs.3ch.nut"
make_clip outputs.rgb.nut rgb24 48x32 4
mkdir jpg
samples() { ffmpeg -v error -nostdin -i "$1" -map 0:a -f s16le - | md5sum; }
for original in outputs.nut outputs.3ch.nut outputs.rgb.nut; do
    run encode "$original" "$original.avi"
    expect "outputs: encode $original" 0
done
while read -r original output pix sound text <&3; do
    name="outputs: $original to $output"
    run decode "$original.avi" "$output"
    if [ "$text" = - ]; then
        expect "$name" 0 || continue
        no_warning "$name"
    else
        expect "$name" 0 "$text" || continue
    fi
    [ "$pix" != - ] && same_frames "$name" "$original" "$output" "$pix"
    [ "$output" = "${output%\%*}" ] || continue
    got=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$output" | tr -d , | grep . | sort -u | tr '\n' ' ')
    if [ "$sound" = pcm ]; then
        [ "$got" = "audio video " ] && [ "$(samples "$output")" = "$(samples "$original")" ] ||
            fail "$name: expected the original's samples beside the video, got streams: $got"
    elif [ "$got" != "video " ]; then
        fail "$name: expected the video stream alone, got: $got"
    fi
done 3<<'TABLE'
outputs.nut out.mp4 yuyv422 pcm coded as alac, exactly
outputs.3ch.nut out3.mp4 yuyv422 pcm coded as alac, exactly
outputs.nut out.ts yuyv422 none is not carried
outputs.nut out.webm yuyv422 none is not carried
outputs.nut out.mkv yuyv422 pcm -
outputs.rgb.nut rgb.mp4 bgr24 none -
outputs.rgb.nut rgb.ts bgr24 none -
outputs.rgb.nut rgb.webm bgr24 none -
outputs.nut jpg/f%03d.jpg - none warning: jpg/f%03d.jpg: yuyv422 to yuvj422p for mjpeg is not exact
TABLE
# x264 takes 4:2:2 at even widths only: an odd one goes to VP9 in an MP4.
run decode "$data/windows/tarvy.avi" odd.nut
expect "outputs: odd width to nut" 0
run decode "$data/windows/tarvy.avi" odd.mp4
expect "outputs: odd width to mp4" 0 && no_warning "outputs: odd width to mp4" &&
    same_frames "outputs: odd width to mp4" odd.nut odd.mp4 yuv422p

# ---- Full range --------------------------------------------------------------
# AVI keeps no range: encode says so, for a yuvj format or a pc tag, and
# decode --full-range tags the output again. Columns: input, its pixel format,
# the output's encoder.
while read -r input pix vcodec <&3; do
    name="full range: $input"
    ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=64x48:rate=25,format=$pix" -frames:v 3 \
        -color_range pc -c:v "$vcodec" "$input" || fail "ffmpeg could not make $input"
    run encode "$input" "$input.avi"
    expect "$name: encode" 0 "full-range YUV ($pix" "tarv decode --full-range" || continue
    # Into RGB the range decides the colours: ffmpeg's own, within rounding.
    run encode "$input" "$input.rgb.avi" --codec rgb24
    expect "$name: encode to rgb24" 0 && run decode "$input.rgb.avi" "$input.rgb.nut" &&
        expect "$name: decode rgb24" 0 && near_pictures "$name: rgb24" "$input" "$input.rgb.nut"
    for range in tv pc; do
        options=()
        [ $range = pc ] && options=(--full-range)
        run decode "$input.avi" "$input.$range.mkv" "${options[@]}"
        expect "$name: decode to $range" 0 || continue
        got=$(ffprobe -v error -show_entries stream=color_range -of csv=p=0 "$input.$range.mkv")
        if [ $range = pc ] && [ "$got" != pc ]; then
            fail "$name: decode --full-range: expected color_range pc, got $got"
        elif [ $range = tv ] && [ "$got" = pc ]; then
            fail "$name: decode: expected no full range without --full-range"
        fi
    done
done 3<<'TABLE'
full.mkv yuv422p ffv1
fullj.avi yuvj422p mjpeg
TABLE
run encode y422.mkv limited.avi
if expect "full range: limited input" 0 && grep -q full-range logs/err; then
    fail "full range: expected no word of range for limited input, got: $(brief logs/err)"
fi

finish
