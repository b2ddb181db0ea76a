# Sourced by the tool's end-to-end tests, which run as
#   bash SCRIPT TARV_BINARY DATA_DIR WORK_DIR
# WORK_DIR is emptied first. The checks print one FAILED line per failing
# check; finish() exits 1 when there is one, 0 when all pass. Without ffmpeg
# and ffprobe the test exits 77 (skipped).
if [ $# -ne 3 ]; then
    echo "usage: bash $(basename "$0") TARV_BINARY DATA_DIR WORK_DIR" >&2
    exit 2
fi
. "$(dirname "${BASH_SOURCE[0]}")/../support/need_ffmpeg.sh"
tarv=$(absolute "$1")
data=$(absolute "$2")
work=$3
mkdir -p "$work" && cd "$work" || exit 2
# Relative names from here on, so messages can be matched against them.
rm -rf ./* ./.[!.]* ./..?*
mkdir logs fail

failures=0
fail() {
    echo "FAILED $*"
    failures=$((failures + 1))
}

# One line of a log, for a FAILED message.
brief() { tr '\n' ' ' <"$1" | cut -c 1-300; }

# Runs tarv; its exit status goes to $rc, its output to logs/out and logs/err.
run() {
    "$tarv" "$@" </dev/null >logs/out 2>logs/err
    rc=$?
}

# expect CASE STATUS [TEXT...]: the last run exited with STATUS and its stderr
# holds every TEXT. False otherwise, so callers can stop at the first fault.
expect() {
    local name=$1 status=$2 text
    shift 2
    if [ "$rc" != "$status" ]; then
        fail "$name: expected exit status $status, got $rc (stderr: $(brief logs/err))"
        return 1
    fi
    for text in "$@"; do
        if ! grep -qF -- "$text" logs/err; then
            fail "$name: expected '$text' on stderr, got: $(brief logs/err)"
            return 1
        fi
    done
}

# expect_stdout CASE TEXT...: the last run's stdout holds every TEXT.
expect_stdout() {
    local name=$1 text
    shift
    for text in "$@"; do
        if ! grep -qF -- "$text" logs/out; then
            fail "$name: expected '$text' on stdout, got: $(brief logs/out)"
            return 1
        fi
    done
}

no_warning() {
    if grep -q warning logs/err; then
        fail "$1: expected no warning for an exact conversion, got: $(brief logs/err)"
    fi
}

# The names in FOLDER, hidden ones too, sorted on one line.
listing() { find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' '; }

# A failed run leaves nothing in the folder it wrote to: neither the output
# nor a hidden temporary file or folder.
nothing_left() {
    local left
    left=$(listing "$2")
    if [ -n "$left" ]; then
        fail "$1: expected nothing in $2 after the failure, found: $left"
        rm -rf "${2:?}"/* "${2:?}"/.[!.]*
    fi
}

# make_clip FILE PIXFMT WxH FRAMES [RATE [FILTERS]]: a noisy test pattern. The
# pattern is drawn at an even size and scaled, since the noise filter rounds
# odd sizes down. The name picks the coding: FFV1 in .mkv, PNG images for .png,
# raw frames otherwise.
make_clip() {
    local file=$1 pix=$2 size=$3 frames=$4 rate=${5:-25} filters=${6:-} codec=rawvideo
    local w=${size%x*} h=${size#*x}
    case $file in
    *.mkv) codec=ffv1 ;;
    *.png) codec=png ;;
    esac
    ffmpeg -v error -nostdin -f lavfi \
        -i "testsrc2=size=$((w + w % 2))x$((h + h % 2)):rate=$rate,noise=alls=20:allf=t,scale=$w:$h,format=$pix$filters" \
        -frames:v "$frames" -c:v "$codec" "$file" || fail "ffmpeg could not make $file"
}

# The ffmpeg that hashes pictures and packets below; the tests of FFmpeg with
# Tarv's patches set the one under test.
hash_ffmpeg=ffmpeg

# Per-frame MD5s of FILE's pictures converted to PIXFMT, one a line.
hashes() {
    "$hash_ffmpeg" -v error -nostdin -i "$1" -map 0:v:0 -pix_fmt "$2" -f framemd5 - |
        awk '!/^#/ { print $NF }'
}

# Per-packet MD5s of FILE's video stream, as stored.
packets() {
    "$hash_ffmpeg" -v error -nostdin -i "$1" -map 0:v -c copy -f framemd5 - |
        awk '!/^#/ { print $NF }'
}

# same_frames CASE EXPECTED GOT PIXFMT: both files hold the same pictures in
# PIXFMT. The expected hashes are kept for the next call with the same file.
cached_key='' cached_hashes=''
same_frames() {
    local expected got line
    if [ "$2|$4" != "$cached_key" ]; then
        cached_hashes=$(hashes "$2" "$4")
        cached_key="$2|$4"
    fi
    expected=$cached_hashes
    got=$(hashes "$3" "$4")
    if [ -z "$expected" ] || [ "$expected" != "$got" ]; then
        line=$(diff <(echo "$expected") <(echo "$got") | sed -n '1s/[^0-9].*//p')
        fail "$1: expected $3 to hold the $(echo "$expected" | grep -c .) frames of $2 as $4," \
            "got $(echo "$got" | grep -c .) frames, the first different being frame $((line - 1))"
    fi
}

# near_pictures CASE EXPECTED GOT: the same pictures in bgr24 but for rounding
# (no sample more than 3 apart), for conversions that cannot be exact; EXPECTED
# is converted with the tool's own scaling flags.
near_pictures() {
    local most
    "$hash_ffmpeg" -v error -nostdin -i "$2" -map 0:v:0 -sws_flags bicubic+accurate_rnd+full_chroma_int -pix_fmt bgr24 -f rawvideo -y near.a.raw &&
        "$hash_ffmpeg" -v error -nostdin -i "$3" -map 0:v:0 -pix_fmt bgr24 -f rawvideo -y near.b.raw &&
        most=$(python3 -c 'import sys; a, b = (open(f, "rb").read() for f in sys.argv[1:])
print(max(map(lambda x, y: abs(x - y), a, b)) if a and len(a) == len(b) else "unequal sizes")' \
            near.a.raw near.b.raw)
    [ "${most:-none}" -le 3 ] 2>/dev/null ||
        fail "$1: expected $3 to hold $2's pictures within rounding, got a difference of ${most:-none}"
}

# check_avi CASE FILE TAG WIDTH HEIGHT RATE FRAMES: the stream FFmpeg sees in
# a Tarv AVI, and every packet a key frame.
check_avi() {
    local name=$1 file=$2 probe got
    probe=$(ffprobe -v error -select_streams v:0 -of csv \
        -show_entries stream=codec_tag_string,width,height,avg_frame_rate:packet=flags "$file")
    got=$(echo "$probe" | sed -n 's/^stream,//p')
    [ "$got" = "$3,$4,$5,$6" ] ||
        fail "$name: expected tag,width,height,rate $3,$4,$5,$6 in $file, ffprobe says $got"
    got="$(echo "$probe" | grep -c '^packet,') packets, $(echo "$probe" | grep -c '^packet,K') key"
    [ "$got" = "$7 packets, $7 key" ] ||
        fail "$name: expected $7 packets, all key frames, in $file, got $got"
}

finish() {
    if [ $failures -ne 0 ]; then
        echo "$failures checks FAILED"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}
