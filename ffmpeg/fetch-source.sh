#!/bin/sh
# Gets FFmpeg's source as Debian ships it, for the Tarv series:
#   ffmpeg/fetch-source.sh VERSION DIR
# VERSION is 5.1 (Debian 12, bookworm) or 7.1 (Debian 13, trixie). Adds the
# suite's deb-src entry on this machine's mirror where apt lacks it
# (cmake/add-debian-suite.sh), installs dpkg-dev where `apt-get source` would
# need it, unpacks the source package (Debian's patches applied) into DIR and
# prints the tree's path on stdout; apt's messages go to stderr. A tree already
# unpacked in DIR is left as it is: remove it for a fresh one. Changing apt's
# sources or packages needs root.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "fetch-source.sh: $*" >&2
    exit 1
}

[ $# -eq 2 ] || {
    echo "usage: ffmpeg/fetch-source.sh 5.1|7.1 DIR" >&2
    exit 64
}
case $1 in
5.1) suite=bookworm ;;
7.1) suite=trixie ;;
*) fail "no Tarv series for FFmpeg $1: there are series for 5.1 and 7.1" ;;
esac
dir=$2

if ! apt-get indextargets --no-release-info --format '$(RELEASE) $(TARGET_OF)' |
    grep -qx "$suite deb-src"; then
    [ "$(id -u)" = 0 ] || fail "apt has no deb-src entry for $suite; run as root to add one"
    sh "$here/../cmake/add-debian-suite.sh" "$suite" deb-src >&2
fi
if ! command -v dpkg-source >/dev/null; then
    [ "$(id -u)" = 0 ] || fail "apt-get source needs dpkg-dev; run as root to install it"
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends dpkg-dev >&2
fi

# The .dsc apt would fetch names the version, and so the tree's folder.
dsc=$(apt-get source --print-uris "ffmpeg/$suite" 2>/dev/null |
    sed -n "s/^'[^']*' \(ffmpeg_[^ ]*\.dsc\) .*/\1/p")
[ -n "$dsc" ] || fail "apt offers no ffmpeg source for $suite (is its deb-src list up to date? apt-get update)"
upstream=${dsc#ffmpeg_}
upstream=${upstream%.dsc}
upstream=${upstream#*:}
upstream=${upstream%-*}
case $upstream in
"$1".*) ;;
*) fail "$suite's ffmpeg source is $upstream, not $1.x" ;;
esac

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
(cd "$dir" && apt-get source "ffmpeg/$suite") >&2 ||
    fail "apt-get source ffmpeg/$suite failed in $dir"
[ -f "$dir/ffmpeg-$upstream/configure" ] || fail "no FFmpeg tree at $dir/ffmpeg-$upstream"
echo "$dir/ffmpeg-$upstream"
