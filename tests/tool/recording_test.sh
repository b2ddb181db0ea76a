#!/bin/bash
# The whole recording through the tarv tool: sound copied or decoded to PCM
# and compared, streams left out named, variable frame rates held in time
# with the sound, jumps in the timestamps, pipes, and captures from
# libavdevice (lavfi, and x11grab of an Xvfb screen ended by SIGINT):
#   bash recording_test.sh TARV_BINARY DATA_DIR WORK_DIR
set -u

. "$(dirname "$0")/lib.sh"

# Size and MD5 of each packet of one stream as stored; timestamps are left
# out, since each container counts time its own way.
stream_packets() {
    ffmpeg -v error -nostdin -i "$1" -map "$2" -c copy -f framemd5 - |
        awk -F', *' '!/^#/ { print $5, $6 }'
}
# The codec of each stream, on one line.
codecs() { ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$1" | paste -sd' '; }

# make_recording FILE VIDEO_CODEC [ffmpeg arguments...]: 2 s of a moving
# pattern in yuyv422 with a 440 Hz and a 660 Hz tone; the arguments choose
# the codecs.
make_recording() {
    local file=$1
    shift
    ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=96x64:rate=25:duration=2,format=yuyv422" \
        -f lavfi -i "sine=f=440:duration=2" -f lavfi -i "sine=f=660:duration=2:sample_rate=48000" \
        -map 0 -map 1 -map 2 -c:v rawvideo "$@" "$file" || fail "ffmpeg could not make $file"
}

# ---- Two audio streams, copied -----------------------------------------------
# PCM and AC-3 go into the AVI and out of it packet for packet, into every
# container that holds sound; the frames stay exact.
make_recording sound.mkv -c:a:0 pcm_s16le -c:a:1 ac3 -ac:a:1 2
run encode sound.mkv sound.avi
if expect "two audio streams: encode" 0; then
    grep -q "not carried\|decoded" logs/err && fail "two audio streams: expected plain copies, got: $(brief logs/err)"
    [ "$(codecs sound.avi)" = "unknown pcm_s16le ac3" ] ||
        fail "two audio streams: expected unknown (Tarv), pcm_s16le and ac3 in sound.avi, got $(codecs sound.avi)"
    for ext in avi mkv nut mov; do
        name="two audio streams: decode to $ext"
        run decode sound.avi "back.$ext"
        expect "$name" 0 || continue
        same_frames "$name" sound.mkv "back.$ext" yuyv422
        for s in 0:a:0 0:a:1; do
            [ "$(stream_packets sound.mkv $s)" = "$(stream_packets "back.$ext" $s)" ] ||
                fail "$name: expected the packets of $s unchanged"
        done
    done
    run verify sound.mkv sound.avi
    expect "two audio streams: verify" 0 && expect_stdout "two audio streams: verify" "2 audio streams"
fi
run decode sound.avi back.y4m
expect "sound into y4m is named" 0 "stream 1 (pcm_s16le audio) is not carried" \
    "stream 2 (ac3 audio) is not carried" "holds no sound"

# Choosing streams; verify is told the same choice.
while IFS='|' read -r option codecs <&3; do
    name="choice $option"
    out=choice${option// /}.avi
    run encode sound.mkv "$out" $option
    expect "$name" 0 || continue
    [ "$(codecs "$out")" = "$codecs" ] || fail "$name: expected $codecs, got $(codecs "$out")"
    run verify sound.mkv "$out" $option
    expect "$name: verify" 0
done 3<<'TABLE'
--no-audio|unknown
--audio 2|unknown ac3
TABLE
run encode sound.mkv fail/out.avi --audio 3
expect "choice of a missing stream" 2 "has 2 audio streams"
nothing_left "choice of a missing stream" fail

# A different tone in the original: verify names the stream and the sample.
make_recording other_tone.mkv -c:a:0 pcm_s16le -c:a:1 ac3 -ac:a:1 2 -af:a:0 volume=0.5
run verify other_tone.mkv sound.avi
expect "verify: other sound" 1 && expect_stdout "verify: other sound" "audio stream 1" "differs"

# ---- Decoded to PCM, and streams left out -------------------------------------
# AAC and 24-bit FLAC become PCM, exactly, and are announced; a subtitle
# stream is named as left out.
printf '1\n00:00:00,000 --> 00:00:01,000\nhello\n' >words.srt
make_recording aac.nut -c:a:0 aac -c:a:1 flac -sample_fmt:a:1 s32
ffmpeg -v error -nostdin -i aac.nut -i words.srt -map 0 -map 1 -c copy aac.mkv
run encode aac.mkv aac.avi
if expect "aac: encode" 0 "stream 1 (aac audio) is decoded to PCM" \
    "stream 2 (flac audio) is decoded to PCM" "stream 3 (subrip subtitle) is not carried"; then
    [ "$(codecs aac.avi)" = "unknown pcm_f32le pcm_s24le" ] ||
        fail "aac: expected pcm_f32le and pcm_s24le, got $(codecs aac.avi)"
    run verify aac.mkv aac.avi
    expect "aac: verify" 0 && expect_stdout "aac: verify" "2 audio streams sample for sample"
fi

# ---- Sound from another input --------------------------------------------------
# A second input gives its sound, each input on its own clock: a file's
# samples come through unchanged (AVI reading cuts them into other packets),
# and ALSA's "null" device (silence, as a microphone would give sound) fills a
# 2 s capture beside a lavfi screen.
ffmpeg -v error -nostdin -f lavfi -i sine=f=500:duration=2 -c:a pcm_s16le tone.wav
run encode sound.mkv tone.wav --audio 3 two_inputs.avi
if expect "second input" 0 && [ "$(codecs two_inputs.avi)" = "unknown pcm_s16le" ]; then
    sound_bytes() { ffmpeg -v error -nostdin -i "$1" -map 0:a -c copy -f data - | md5sum; }
    [ "$(sound_bytes tone.wav)" = "$(sound_bytes two_inputs.avi)" ] ||
        fail "second input: expected the samples of tone.wav"
    run verify sound.mkv tone.wav two_inputs.avi --audio 3
    expect "second input: verify" 0
else
    fail "second input: expected tone.wav's sound alone, got $(codecs two_inputs.avi)"
fi
run encode --input-format lavfi "testsrc2=size=96x64:rate=25,realtime" \
    --input-format alsa null --duration 2 alsa.avi
if expect "alsa capture" 0; then
    bytes=$(ffprobe -v error -select_streams a -show_entries packet=size -of csv=p=0 alsa.avi |
        awk '{ n += $1 } END { print n }')
    [ "$(codecs alsa.avi)" = "unknown pcm_s16le" ] && [ "$bytes" -gt 360000 ] &&
        [ "$bytes" -le 384000 ] ||
        fail "alsa capture: expected 2 s of 48 kHz stereo sound, got $(codecs alsa.avi), $bytes bytes"
fi

# ---- Sound that starts late ---------------------------------------------------
# AVI plays each stream from its start: 0.5 s of silence places late PCM, and
# a late MP3 is decoded to PCM to be placed so. Both then end with the video.
ffmpeg -v error -nostdin -f lavfi -i "testsrc2=size=96x64:rate=25:duration=2,format=yuyv422" \
    -itsoffset 0.5 -f lavfi -i "sine=f=440:duration=1.5" -itsoffset 0.5 -f lavfi \
    -i "sine=f=660:duration=1.5" -map 0 -map 1 -map 2 -c:v rawvideo -c:a:0 pcm_s16le \
    -c:a:1 libmp3lame late.mkv
run encode late.mkv late.avi
if expect "late sound" 0 "stream 2 (mp3 audio) is decoded to PCM, exactly: it starts late"; then
    for s in 0:a:0 0:a:1; do
        got=$(ffmpeg -nostdin -i late.avi -map $s -f null - 2>&1 | grep -o 'time=[0-9:.]*' | tail -1)
        case $got in time=00:00:01.9[6-9] | time=00:00:02.0*) ;;
        *) fail "late sound: expected $s of late.avi to last 2 s with its lead of silence, got $got" ;;
        esac
    done
    run verify late.mkv late.avi
    expect "late sound: verify" 0
fi
# Cut before the sound starts: silence up to the end, still.
run encode late.mkv late_cut.avi --duration 0.3
got=$(ffmpeg -nostdin -i late_cut.avi -map 0:a:0 -f null - 2>&1 | grep -o 'time=[0-9:.]*' | tail -1)
[ "$got" = time=00:00:00.30 ] || fail "late sound cut at 0.3 s: expected 0.3 s of silence, got $got"

# --duration cuts video and sound alike; verify is told the same.
run encode sound.mkv cut.avi --duration 1.2
expect "--duration" 0 && check_avi "--duration" cut.avi TRVY 96 64 25/1 30
run verify sound.mkv cut.avi --duration 1.2
expect "--duration: verify" 0
run verify sound.mkv cut.avi
expect "--duration: verify of the whole" 1 && expect_stdout "--duration: verify of the whole" "more frames"

# ---- Variable frame rate -----------------------------------------------------
# 20 frames at 25 fps, 20 at 50 fps, 10 at about 7 fps, and 2.6 s of sound:
# frames are skipped and repeated to hold 25 fps, and the last frame still
# comes at its time, within one frame.
ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=96x64:rate=25:duration=2 \
    -f lavfi -i sine=duration=2.6 -fps_mode passthrough -c:v rawvideo -pix_fmt yuyv422 \
    -vf "setpts='if(lt(N,20),N/25,if(lt(N,40),0.8+(N-20)/50,1.2+(N-40)*0.14))/TB'" \
    -c:a pcm_s16le vfr.mkv
run encode vfr.mkv vfr.avi
if expect "variable rate: encode" 0 "frames repeated and" "skipped to keep 25 frames a second"; then
    grep -q " 0 frames repeated\| and 0 skipped" logs/err &&
        fail "variable rate: expected frames both repeated and skipped, got: $(brief logs/err)"
    last=$(ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 vfr.mkv | tail -1)
    frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 vfr.avi)
    awk -v a="$last" -v n="$frames" 'BEGIN { d = (n - 1) / 25 - a; exit !(d < 0.04 && d > -0.04) }' ||
        fail "variable rate: the last frame is at $last s in vfr.mkv but frame $((frames - 1)) at 25 fps"
    run verify vfr.mkv vfr.avi
    expect "variable rate: verify" 0
fi
run encode vfr.mkv rate10.avi --rate 10
expect "--rate 10" 0 && check_avi "--rate 10" rate10.avi TRVY 96 64 10/1 25
run verify vfr.mkv rate10.avi
expect "--rate 10: verify" 0

# ---- Jumps in the timestamps -----------------------------------------------------
# A 2 s clip whose sound or video timestamps jump after 1 s: a gap up to a
# minute is filled, a longer jump is not, and is named; verify times the
# original the same way.
sound_seconds() {
    ffprobe -v error -select_streams a:0 -show_entries packet=duration_time -of csv=p=0 "$1" |
        awk '{ t += $1 } END { printf "%.2f", t }'
}
while IFS='|' read -r name afilter vfilter text frames seconds <&3; do
    ffmpeg -v error -nostdin -y \
        -f lavfi -i "testsrc2=size=96x64:rate=25:duration=2,format=yuyv422,$vfilter" \
        -f lavfi -i sine=duration=2:sample_rate=48000 -af "$afilter" -ac 2 -c:v rawvideo \
        -c:a pcm_s16le jump.mkv
    run encode jump.mkv jump.avi -y
    expect "$name" 0 "$text" || continue
    check_avi "$name" jump.avi TRVY 96 64 25/1 "$frames"
    got=$(sound_seconds jump.avi)
    [ "$got" = "$seconds" ] || fail "$name: expected $seconds s of sound, got $got s"
    run verify jump.mkv jump.avi
    expect "$name: verify" 0
done 3<<'TABLE'
a 30 s gap in the sound is filled|asetpts='if(gte(T,1),PTS+30/TB,PTS)'|null|jump.avi: 50 frames|50|32.00
the sound jumps 10 min ahead|asetpts='if(gte(T,1),PTS+600/TB,PTS)'|null|its timestamps jump 10:00 ahead at 1.0|50|2.00
the video jumps 10 min ahead|anull|setpts='if(gte(N,25),PTS+600/TB,PTS)'|the video's timestamps jump 10:00 ahead at frame 25|50|2.00
TABLE

# ---- Pipes ---------------------------------------------------------------------
ffmpeg -v error -nostdin -i sound.mkv -map 0 -c copy -f nut - | "$tarv" encode - piped.avi -q 2>logs/err
rc=$?
expect "pipe in" 0 && [ "$(codecs piped.avi)" = "unknown pcm_s16le ac3" ] ||
    fail "pipe in: expected the sound in piped.avi, got $(codecs piped.avi)"
got=$("$tarv" decode sound.avi - --format nut -q </dev/null 2>logs/err |
    ffprobe -v error -show_entries stream=codec_name -of csv=p=0 - | paste -sd' ')
[ "$got" = "rawvideo pcm_s16le ac3" ] || fail "pipe out into ffprobe: got '$got' ($(brief logs/err))"

# ---- Capture: lavfi ------------------------------------------------------------
# Generated pictures and sound for 2 s hold the same frames and samples as
# ffmpeg's. (Two sources, not one graph with two outputs, which FFmpeg 5.1's
# lavfi device leaks memory for.)
graph="testsrc2=size=96x64:rate=25"
run encode --input-format lavfi "$graph" --input-format lavfi sine=f=300 --duration 2 lavfi.avi
if expect "lavfi capture" 0; then
    ffmpeg -v error -nostdin -f lavfi -i "$graph" -f lavfi -i sine=f=300 -t 2 -c:v rawvideo \
        -c:a pcm_s16le lavfi.nut
    check_avi "lavfi capture" lavfi.avi TRVY 96 64 25/1 50
    run verify lavfi.nut lavfi.avi
    expect "lavfi capture: verify" 0 && expect_stdout "lavfi capture: verify" "audio stream sample for sample"
fi
run encode --input-format lavfi --input-option nosuch=1 "$graph" fail/out.avi
expect "unknown input option" 2 "has no option named nosuch"
nothing_left "unknown input option" fail

# A capture ended by SIGINT once it is running, as a user's Ctrl-C would; the
# status goes to $rc.
interrupted() {
    "$tarv" "$@" </dev/null >logs/out 2>logs/err &
    local capture=$!
    for _ in $(seq 200); do grep -q capturing logs/err && break; sleep 0.1; done
    sleep 1
    kill -INT $capture
    wait $capture
    rc=$?
}

# Sound from a source far faster than real time ends with the video.
interrupted encode --input-format lavfi "$graph,realtime" --input-format lavfi sine=f=300 \
    fast_sound.avi
if expect "sound faster than real time, ended by SIGINT" 0; then
    frames=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 \
        -select_streams v fast_sound.avi)
    got=$(sound_seconds fast_sound.avi)
    awk -v s="$got" -v n="$frames" 'BEGIN { exit !(n > 0 && s <= (n + 1) / 25) }' ||
        fail "sound faster than real time: $got s of sound after $frames frames at 25 fps"
fi

# ---- Capture: x11grab, ended by SIGINT ----------------------------------------
# An Xvfb screen with a moving pattern drawn on it (by ffmpeg's own X11
# output, when it has one; a still screen otherwise).
if ! command -v Xvfb >/dev/null; then
    fail "x11grab: Xvfb is not installed (Debian's xvfb)"
else
    Xvfb -displayfd 3 -screen 0 320x240x24 -nolisten tcp 3>display 2>logs/xvfb &
    xvfb=$!
    for _ in $(seq 100); do [ -s display ] && break; sleep 0.1; done
    screen=:$(cat display)
    interrupted encode --input-format x11grab --input-option framerate=25 \
        --input-option video_size=320x240 "$screen" grab.avi
    kill $xvfb
    if expect "x11grab: ended by SIGINT" 0 "grab.avi: "; then
        frames=$(ffprobe -v error -show_entries stream=nb_frames -of csv=p=0 grab.avi)
        check_avi "x11grab" grab.avi TRVR 320 240 25/1 "$frames"
        run decode grab.avi grab.nut
        expect "x11grab: decode" 0
        run verify grab.nut grab.avi
        expect "x11grab: verify" 0
    fi
fi

finish
