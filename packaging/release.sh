#!/bin/sh
# release.sh OUTDIR: every artefact of a release, from a clean checkout, into
# OUTDIR: the source archive (tarv-VERSION.tar.gz), the Debian packages, the
# Windows zip and installer, and SHA256SUMS. It builds the release,
# windows-x86 and windows-x64 presets in build/ and installs nothing: the
# packages the README's test command installs must be there.
set -eu
if [ $# -ne 1 ]; then
    echo "usage: sh packaging/release.sh OUTDIR" >&2
    exit 64
fi
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$root"

missing=
for command in git cmake ninja g++ pkg-config gzip sha256sum dpkg-shlibdeps makensis \
    x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix; do
    command -v "$command" >/dev/null 2>&1 || missing="$missing $command"
done
if [ -n "$missing" ]; then
    echo "release.sh: missing:$missing; install the packages of the README's test command" >&2
    exit 1
fi
# The archive is made from the commit: what is built must be that commit.
if [ -n "$(git status --porcelain)" ]; then
    echo "release.sh: the checkout has changes that are not committed:" >&2
    git status --short >&2
    exit 1
fi
version=$(sed -n 's/^project(tarv VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
    echo "release.sh: no version in CMakeLists.txt's project()" >&2
    exit 1
fi
# Dates inside the packages are the commit's, so a release can be made again.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH

echo "release.sh: tarv $version into $out"
rm -f "$out"/tarv-"$version".tar.gz "$out"/*.deb "$out"/tarv-"$version"-windows.zip \
    "$out"/tarv-"$version"-setup.exe "$out"/SHA256SUMS
git archive --format=tar.gz --prefix="tarv-$version/" -o "$out/tarv-$version.tar.gz" HEAD

cmake --preset release
cmake --build build/release --target deb_packages
cp build/release/package-deb/*.deb "$out"/

cmake --preset windows-x86
cmake --preset windows-x64
cmake --build build/windows-x64 --target windows_packages
cp "build/windows-x64/package/tarv-$version-windows.zip" \
    "build/windows-x64/package/tarv-$version-setup.exe" "$out"/

cd "$out"
sha256sum "tarv-$version.tar.gz" ./*.deb "tarv-$version-windows.zip" "tarv-$version-setup.exe" |
    sed 's| \./| |' >SHA256SUMS
echo "release.sh: done:"
cat SHA256SUMS
