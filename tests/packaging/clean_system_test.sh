#!/bin/sh
# The Debian packages as a user meets them, in a fresh Debian 12 that is not
# the build machine (a debootstrap chroot, as root):
#   sh clean_system_test.sh DEBS_DIR WORK_DIR
# apt installs the packages with what they depend on; tarv bench runs;
# GStreamer and VLC (as a user) find the plugins where they are installed and
# decode exactly what tarv decode gives; man tarv shows the page; VLC's plugin
# cache follows the module in and out; a purge leaves no file of ours. The
# mirror is the one this machine's apt uses. WORK_DIR keeps the system's
# packages between runs: debootstrap's tarball (remade after a week) and apt's
# downloads, which apt checks against the signed index each time.
set -eu
if [ $# -ne 2 ]; then
    echo "usage: sh clean_system_test.sh DEBS_DIR WORK_DIR" >&2
    exit 64
fi
debs=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
root=$work/root cache=$work/cache
suite=bookworm arch=x86_64-linux-gnu
packages="tarv gstreamer1.0-tarv vlc-plugin-tarv"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
[ "$(id -u)" -eq 0 ] || fail "debootstrap and chroot need root"
command -v debootstrap >/dev/null 2>&1 || fail "debootstrap not found: install Debian's debootstrap"
for package in $packages; do
    [ -f "$(ls "$debs/${package}_"*.deb 2>/dev/null | head -n 1)" ] ||
        fail "no ${package}_*.deb in $debs (cmake --build build/release --target deb_packages)"
done
mirror=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(TARGET_OF)' |
    awk -v r="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")" \
        '$2 == r && $3 == "deb" { print $1; exit }')
[ -n "$mirror" ] || fail "apt has no Debian mirror for this machine's release"

# Nothing of the host's environment (plugin paths) reaches the system.
in_root() {
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive chroot "$root" "$@"
}
as_user() {
    in_root runuser -u tester -- env HOME=/home/tester "$@"
}
unmount() {
    for mount in var/cache/apt/archives proc; do
        if grep -q " $root/$mount " /proc/mounts; then umount "$root/$mount"; fi
    done
}
trap unmount EXIT
trap 'exit 130' INT TERM
unmount
if grep -q " $root/" /proc/mounts; then
    fail "something is still mounted under $root"
fi
rm -rf "$root"

mkdir -p "$cache/archives/partial"
tarball=$cache/$suite-minbase.tgz
find "$cache" -maxdepth 1 -name "$suite-minbase.tgz" -mtime +7 -delete
if [ ! -f "$tarball" ]; then
    rm -rf "$work/tarball"
    debootstrap --variant=minbase --make-tarball="$tarball.new" "$suite" "$work/tarball" \
        "$mirror" >"$work/debootstrap.log" 2>&1 || fail "debootstrap: $(tail -n 5 "$work/debootstrap.log")"
    mv "$tarball.new" "$tarball"
fi
debootstrap --variant=minbase --unpack-tarball="$tarball" "$suite" "$root" "$mirror" \
    >"$work/debootstrap.log" 2>&1 || fail "debootstrap: $(tail -n 5 "$work/debootstrap.log")"
mount -t proc proc "$root/proc"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# Packages start no services here, as in any chroot.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
mkdir "$root/debs" "$root/home/tester"
cp "$debs"/*.deb "$root/debs/"
echo "tester:x:1000:1000::/home/tester:/bin/sh" >>"$root/etc/passwd"
echo "tester:x:1000:" >>"$root/etc/group"
chown 1000:1000 "$root/home/tester"

step() {
    echo "== $*"
}
step "apt-get install ./*.deb"
in_root apt-get update -q >/dev/null
in_root sh -c 'cd /debs && apt-get install -y -q --no-install-recommends ./*.deb' ||
    fail "apt-get could not install the packages"
step "tarv bench"
in_root tarv bench --frames 10 || fail "tarv bench failed"

step "the players and man"
in_root apt-get install -y -q --no-install-recommends gstreamer1.0-tools \
    gstreamer1.0-plugins-good vlc-bin vlc-plugin-base man-db >/dev/null ||
    fail "apt-get could not install the players"
as_user gst-inspect-1.0 tarvdec >/dev/null || fail "gst-inspect-1.0 does not find tarvdec"
page=$(in_root env MANPAGER=cat MANWIDTH=80 man tarv 2>&1) || fail "man tarv: $page"
echo "$page" | grep -q "^NAME" || fail "man tarv shows no page: $page"

# For each codec: a clip made by the installed tool, decoded by GStreamer and
# by VLC, compared byte for byte with tarv decode's raw frames in the pixel
# format each player gives (at a width whose rows GStreamer does not pad to 4
# bytes). VLC's yuv output writes a line about the stream and "FRAME" and a
# newline before each frame, and may leave out the first or last frame: its
# frames must be a run of the reference's, missing at most two.

# frame_sums FILE OFFSET STEP SIZE: the MD5 of each SIZE-byte frame, one a
# line, the first at OFFSET and one every STEP bytes.
frame_sums() {
    total=$(wc -c <"$1") pos=$2
    while [ $((pos + $4)) -le "$total" ]; do
        tail -c +$((pos + 1)) "$1" | head -c "$4" | md5sum | cut -c 1-32
        pos=$((pos + $3))
    done
}
width=64 height=36 frames=25
for case in "yuy2 yuyv422 YUY2 yuyv422 2" "rgb24 bgr24 RV24 rgb24 3"; do
    set -- $case
    codec=$1 gst_pix=$2 vlc_chroma=$3 vlc_pix=$4 size=$((width * height * $5))
    step "$codec: tarv encode, GStreamer, VLC"
    as_user sh -c "cd && tarv encode --input-format lavfi --quiet --codec $codec --duration 1 \
        'testsrc2=size=${width}x$height:rate=$frames,noise=alls=20:allf=t,format=$gst_pix' \
        $codec.avi &&
        tarv decode $codec.avi - --format rawvideo --pix-fmt $gst_pix --quiet >$codec.gst.ref &&
        tarv decode $codec.avi - --format rawvideo --pix-fmt $vlc_pix --quiet >$codec.raw" ||
        fail "$codec: tarv could not make or decode a clip"
    home=$root/home/tester
    as_user sh -c "cd && gst-launch-1.0 -q filesrc location=$codec.avi ! avidemux ! tarvdec ! \
        filesink location=$codec.gst" || fail "$codec: gst-launch-1.0 failed"
    cmp "$home/$codec.gst" "$home/$codec.gst.ref" ||
        fail "$codec: GStreamer's frames differ from tarv decode's"
    as_user sh -c "cd && cvlc -vv --intf dummy --no-audio --no-video-title-show --no-osd \\
        --no-spu --no-drop-late-frames --no-skip-frames --vout yuv --yuv-file $codec.vlc \
        --yuv-chroma $vlc_chroma $codec.avi vlc://quit" >"$work/$codec.vlc.log" 2>&1 ||
        fail "$codec: VLC failed: $(tail -n 5 "$work/$codec.vlc.log")"
    grep -q 'using video decoder module "tarv"' "$work/$codec.vlc.log" ||
        fail "$codec: VLC did not decode with the module (log: $work/$codec.vlc.log)"
    frame_sums "$home/$codec.raw" 0 "$size" "$size" >"$work/$codec.ref.sums"
    header=$(head -n 1 "$home/$codec.vlc" | wc -c)
    frame_sums "$home/$codec.vlc" $((header + 6)) $((size + 6)) "$size" >"$work/$codec.vlc.sums"
    got=$(wc -l <"$work/$codec.vlc.sums")
    first=$(grep -n -m 1 -x "$(head -n 1 "$work/$codec.vlc.sums")" "$work/$codec.ref.sums" |
        cut -d : -f 1)
    [ "$got" -ge $((frames - 2)) ] && [ -n "$first" ] &&
        sed -n "$first,$((first + got - 1))p" "$work/$codec.ref.sums" |
        cmp -s - "$work/$codec.vlc.sums" ||
        fail "$codec: VLC's $got frames are not a run of tarv decode's $frames"
done

step "VLC's plugin cache follows the module"
cache_file=/usr/lib/$arch/vlc/plugins/plugins.dat
in_cache() {
    in_root grep -q libtarv_plugin "$cache_file"
}
in_cache || fail "$cache_file does not list the module"
in_root dpkg -r vlc-plugin-tarv >/dev/null
! in_cache || fail "$cache_file still lists the module after it was removed"
in_root sh -c 'dpkg -i /debs/vlc-plugin-tarv_*.deb' >/dev/null
in_cache || fail "$cache_file does not list the module installed again"

step "apt-get purge"
in_root dpkg -L $packages >"$work/files"
in_root apt-get purge -y -q $packages >/dev/null
! in_cache || fail "$cache_file still lists the module after the purge"
left=
while read -r path; do
    case $path in "" | /.) continue ;; esac
    if [ -e "$root$path" ] || [ -L "$root$path" ]; then
        # A folder another package owns (/usr/bin) stays.
        [ -d "$root$path" ] && in_root dpkg -S "$path" >/dev/null 2>&1 || left="$left $path"
    fi
done <"$work/files"
[ -z "$left" ] || fail "left after the purge:$left"
unmount
rm -rf "$root"
echo "the packages install, work and purge cleanly in a fresh Debian $suite"
