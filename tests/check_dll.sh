#!/bin/sh
# check_dll.sh DLL: a codec DLL exports exactly DriverProc, undecorated, and
# imports only DLLs that every Windows system has (the GCC runtime is inside).
set -eu
dll=$1
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
echo "$dll: exports DriverProc only; imports $(echo $imports)"
