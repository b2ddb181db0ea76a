#!/bin/sh
# One FFmpeg build for the tests, from Debian's source of that release:
#   fetch_and_build.sh VERSION SOURCES OUT [ffmpeg/build.sh OPTION...]
# Fetches the source into SOURCES (kept, with the series applied, for the
# other builds of VERSION and later runs; unpacked afresh once the series has
# changed) and builds it with --minimal and the options given in OUT/objects,
# installed in OUT/install.
set -eu
[ $# -ge 3 ] || {
    echo "usage: fetch_and_build.sh VERSION SOURCES OUT [BUILD_OPTION...]" >&2
    exit 64
}
version=$1 sources=$2 out=$3
shift 3
ffmpeg=$(cd "$(dirname "$0")/../../ffmpeg" && pwd)
tree=$(sh "$ffmpeg/fetch-source.sh" "$version" "$sources")
# build.sh records the series it applied as this digest.
series=$(find "$ffmpeg/$version" -maxdepth 1 -name '*.patch' | LC_ALL=C sort)
digest=$(cat $series | sha256sum | cut -d ' ' -f 1)
if [ -f "$tree/.tarv-series" ] && [ "$(cat "$tree/.tarv-series")" != "$digest" ]; then
    echo "fetch_and_build.sh: the series has changed: unpacking $tree afresh" >&2
    rm -rf "$tree"
    tree=$(sh "$ffmpeg/fetch-source.sh" "$version" "$sources")
fi
exec sh "$ffmpeg/build.sh" --minimal "$@" --build-dir "$out/objects" "$tree" "$out/install"
