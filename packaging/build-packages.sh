#!/bin/sh
# build-packages.sh CPACK CPACK_CONFIG OUTDIR NAME VERSION MAKENSIS
# The two Windows packages from one set of DLLs: CPack writes the zip
# OUTDIR/NAME.zip, and the installer OUTDIR/tarv-VERSION-setup.exe is made from
# the DLLs inside that zip, so both always ship the same files.
set -eu
cpack=$1 config=$2 out=$3 name=$4 version=$5 makensis=$6
if [ -z "$makensis" ] || ! command -v "$makensis" >/dev/null 2>&1; then
    echo "FAILED: makensis not found: install Debian's nsis package" >&2
    exit 1
fi
rm -rf "$out"
"$cpack" --config "$config" -B "$out"
mkdir "$out/unpacked"
(cd "$out/unpacked" && cmake -E tar xf "../$name.zip")
root=$out/unpacked/$name
"$makensis" -V2 -DVERSION="$version" -DX64_DIR="$root/x64" -DX86_DIR="$root/x86" \
    -DLICENSE_FILE="$root/LICENSE.txt" -DOUTFILE="$out/tarv-$version-setup.exe" "$(dirname "$0")/windows/tarv.nsi"
echo "$out: $name.zip and tarv-$version-setup.exe"
