#!/bin/sh
# check_install.sh WINE_RUN SHARED_PREFIX PREFIX ZIP WORKDIR PROBE_X64 PROBE_X86
# Unpacks the zip, then in PREFIX, a fresh copy of the shared 64-bit prefix as
# it was made: the codecs are absent; install.cmd makes both findable by FourCC
# from 64-bit and from 32-bit programs, with the DLLs and the registry values
# where Windows looks for them; uninstall.cmd removes all of it, and a second
# run of it still succeeds.
set -eu
wine_run=$1 shared=$2 prefix=$3 package=$4 work=$5 probe64=$6 probe32=$7
key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32'

wine() { "$wine_run" x64 "$prefix" "$@"; }
fail() { echo "FAILED: $*" >&2; status=1; }
status=0

for file in "$package" "$probe64" "$probe32"; do
    if [ ! -f "$file" ]; then
        echo "FAILED: no $file (the windows-x86 build comes first, then windows-x64)" >&2
        exit 1
    fi
done
rm -rf "$prefix" "$work"
mkdir -p "$work"
(cd "$work" && cmake -E tar xf "$package")
stage=$(dirname "$(find "$work" -name install.cmd)")

# The shared prefix is made on its first use, with a pristine copy beside it.
"$wine_run" x64 "$shared" cmd /c exit 0
cp -a "$shared.pristine" "$prefix"

wine "$probe64" absent || fail "the codecs are there before install.cmd ran"

windows=$prefix/drive_c/windows
# 64-bit Windows: each DLL by bitness, each registry view.
placed="system32:x64 syswow64:x86" views="/reg:64 /reg:32"
echo "Installing from $stage into a 64-bit prefix"

rc=0
(cd "$stage" && wine cmd /c install.cmd) || rc=$?
[ $rc = 0 ] || fail "install.cmd exited with $rc"
wine "$probe64" present || fail "64-bit programs do not find the installed codecs as they should"
"$wine_run" x86 "$prefix" "$probe32" present ||
    fail "32-bit programs do not find the installed codecs as they should"
for pair in $placed; do
    folder=${pair%%:*} build=${pair#*:}
    for dll in tarvy.dll tarvr.dll; do
        cmp -s "$windows/$folder/$dll" "$stage/$build/$dll" ||
            fail "$folder/$dll is not $build/$dll from the package"
    done
done
for view in $views; do
    for value in vidc.TRVY:tarvy.dll vidc.TRVR:tarvr.dll; do
        name=${value%%:*} dll=${value#*:}
        wine reg query "$key" /v "$name" "$view" | grep -qi "REG_SZ *$dll" ||
            fail "$name is not $dll in the $view registry view"
    done
done

for run in first second; do
    rc=0
    (cd "$stage" && wine cmd /c uninstall.cmd) || rc=$?
    [ $rc = 0 ] || fail "the $run uninstall.cmd exited with $rc"
done
wine "$probe64" absent || fail "64-bit programs still find the codecs after uninstall.cmd"
"$wine_run" x86 "$prefix" "$probe32" absent ||
    fail "32-bit programs still find the codecs after uninstall.cmd"
for pair in $placed; do
    for dll in tarvy.dll tarvr.dll; do
        [ ! -e "$windows/${pair%%:*}/$dll" ] || fail "${pair%%:*}/$dll is still there"
    done
done
for view in $views; do
    for name in vidc.TRVY vidc.TRVR; do
        if wine reg query "$key" /v "$name" "$view" >/dev/null 2>&1; then
            fail "$name is still in the $view registry view"
        fi
    done
done
[ $status = 0 ] && echo "install.cmd and uninstall.cmd: all checks passed"
exit $status
