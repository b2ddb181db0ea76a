#!/bin/sh
# check_package.sh X86_BUILD OUTDIR NAME VERSION BUILD-COMMAND...: makes the
# Windows packages with the build's own command (packaging/build-packages.sh)
# and checks that the zip holds exactly the package - both builds' DLLs, each of
# its own architecture, the scripts, the readme and the licence, these with CRLF
# line ends - and that the installer beside it is a Windows program whose
# properties name the licence. Fails when there is no
# 32-bit build to take the x86 DLLs from.
set -eu
x86_build=$1 out=$2 name=$3 version=$4
shift 4
if [ ! -f "$x86_build/cmake_install.cmake" ]; then
    echo "FAILED: no 32-bit build in $x86_build; build the windows-x86 preset first" \
         "(or point TARV_WINDOWS_X86_BUILD_DIR at one)" >&2
    exit 1
fi
"$@"
zip=$out/$name.zip
setup=$out/tarv-$version-setup.exe

listing=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(printf "$name/%s\n" LICENSE.txt README.txt install.cmd uninstall.cmd \
           x64/tarvr.dll x64/tarvy.dll x86/tarvr.dll x86/tarvy.dll | sort)
if [ "$listing" != "$expected" ]; then
    printf 'The zip holds:\n%s\nbut should hold:\n%s\n' "$listing" "$expected" >&2
    exit 1
fi

root=$out/unpacked/$name
status=0
if ! objdump -f "$setup" | grep -q 'file format pei-i386$'; then
    echo "$setup is not a Windows program" >&2
    status=1
fi
if ! strings -el "$setup" | grep -qxF "Copyright 2026 The Tarv developers. BSD 2-Clause licence"; then
    echo "$setup: its properties do not name the licence" >&2
    status=1
fi
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
for file in LICENSE.txt README.txt install.cmd uninstall.cmd; do
    if [ "$(grep -c "$cr\$" "$root/$file")" != "$(wc -l < "$root/$file")" ]; then
        echo "$file has lines without CRLF" >&2
        status=1
    fi
done
[ $status = 0 ] && echo "$zip: the four DLLs (x64 and x86), install.cmd, uninstall.cmd," \
    "README.txt, LICENSE.txt; $setup: $(wc -c < "$setup") bytes"
exit $status
