#!/bin/sh
# check_package.sh CPACK CONFIG OUTDIR X86_BUILD NAME: makes the Windows zip with
# CPack and checks that it holds exactly the package - both builds' DLLs, each of
# its own architecture, the scripts and the readme, these with CRLF line ends.
# Fails when there is no 32-bit build to take the x86 DLLs from.
set -eu
cpack=$1 config=$2 out=$3 x86_build=$4 name=$5
if [ ! -f "$x86_build/cmake_install.cmake" ]; then
    echo "FAILED: no 32-bit build in $x86_build; build the windows-x86 preset first" \
         "(or point TARV_WINDOWS_X86_BUILD_DIR at one)" >&2
    exit 1
fi
rm -rf "$out"
"$cpack" --config "$config" -B "$out"
zip=$out/$name.zip

listing=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(printf "$name/%s\n" README.txt install.cmd uninstall.cmd \
           x64/tarvr.dll x64/tarvy.dll x86/tarvr.dll x86/tarvy.dll | sort)
if [ "$listing" != "$expected" ]; then
    printf 'The zip holds:\n%s\nbut should hold:\n%s\n' "$listing" "$expected" >&2
    exit 1
fi

mkdir "$out/unpacked"
(cd "$out/unpacked" && cmake -E tar xf "$zip")
root=$out/unpacked/$name
status=0
for dll in tarvy tarvr; do
    for pair in x64:pei-x86-64 x86:pei-i386; do
        arch=${pair%%:*} format=${pair#*:}
        if ! objdump -f "$root/$arch/$dll.dll" | grep -q "file format $format\$"; then
            echo "$arch/$dll.dll is not $format:" >&2
            objdump -f "$root/$arch/$dll.dll" >&2 || true
            status=1
        fi
    done
done
cr=$(printf '\r')
for file in README.txt install.cmd uninstall.cmd; do
    if [ "$(grep -c "$cr\$" "$root/$file")" != "$(wc -l < "$root/$file")" ]; then
        echo "$file has lines without CRLF" >&2
        status=1
    fi
done
[ $status = 0 ] && echo "$zip: the four DLLs (x64 and x86), install.cmd, uninstall.cmd, README.txt"
exit $status
