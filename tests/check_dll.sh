#!/bin/sh
# check_dll.sh DLL VERSION WINDRES: a codec DLL exports exactly DriverProc,
# undecorated, imports only DLLs that every Windows system has (the GCC runtime
# is inside), and carries VERSION in the version resource Windows shows in its
# file properties (read back by mingw's WINDRES).
set -eu
dll=$1 version=$2 windres=$3
exports=$(objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p')
if [ "$exports" != "DriverProc" ]; then
    echo "$dll exports: $exports" >&2
    exit 1
fi
imports=$(objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
for name in $imports; do
    case $name in
        KERNEL32.DLL | MSVCRT.DLL | WINMM.DLL | USER32.DLL | ADVAPI32.DLL) ;;
        *) echo "$dll imports $name, which is not a system DLL" >&2; exit 1 ;;
    esac
done
resource=$("$windres" -i "$dll" -O rc | sed 's/^[[:space:]]*//')
numbers="$(echo "$version" | sed 's/\./, /g'), 0"
for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"FileVersion\", \"$version\"" \
            "VALUE \"ProductVersion\", \"$version\"" \
            "VALUE \"OriginalFilename\", \"$(basename "$dll")\""; do
    if ! echo "$resource" | grep -qxF "$line"; then
        echo "$dll: its version resource lacks $line; it holds:" >&2
        echo "$resource" >&2
        exit 1
    fi
done
echo "$dll: exports DriverProc only; imports $(echo $imports); version $version"
