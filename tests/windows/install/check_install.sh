#!/bin/sh
# check_install.sh CMAKE WINE_RUN ARCH PREFIX PROBE PACKAGE WORKDIR
# Unpacks PACKAGE (the zip, or a build folder to "cmake --install"), then in a
# fresh Wine prefix: the codecs are absent; install.cmd makes both findable by
# FourCC, with the DLLs and the registry values where Windows looks for them;
# uninstall.cmd removes all of it, and a second run of it still succeeds.
# Exits 77 (skip) when Wine cannot run ARCH programs, or there is no package.
set -eu
cmake=$1 wine_run=$2 arch=$3 prefix=$4 probe=$5 package=$6 work=$7
key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32'

wine() { "$wine_run" "$arch" "$prefix" "$@"; }
fail() { echo "FAILED: $*" >&2; status=1; }
status=0

rm -rf "$prefix" "$work"
mkdir -p "$work"
case $package in
    *.zip)
        if [ ! -f "$package" ]; then
            echo "SKIPPED: no package at $package (its test was skipped)" >&2
            exit 77
        fi
        (cd "$work" && "$cmake" -E tar xf "$package") ;;
    *) "$cmake" --install "$package" --prefix "$work/package" --component codec >/dev/null ;;
esac
stage=$(dirname "$(find "$work" -name install.cmd)")

rc=0
wine "$probe" absent || rc=$?
[ $rc = 77 ] && exit 77
[ $rc = 0 ] || fail "the codecs are there before install.cmd ran"

windows=$prefix/drive_c/windows
if [ -d "$windows/syswow64" ]; then
    # 64-bit Windows: each DLL by bitness, each registry view.
    bits=64 placed="system32:x64 syswow64:x86" views="/reg:64 /reg:32"
else
    # 32-bit Windows has one registry view, and reg.exe there takes no /reg:.
    bits=32 placed="system32:x86" views=""
fi
echo "Installing from $stage into a $bits-bit prefix"

rc=0
(cd "$stage" && wine cmd /c install.cmd) || rc=$?
[ $rc = 0 ] || fail "install.cmd exited with $rc"
wine "$probe" present || fail "the installed codecs are not found as they should be"
for pair in $placed; do
    folder=${pair%%:*} build=${pair#*:}
    for dll in tarvy.dll tarvr.dll; do
        cmp -s "$windows/$folder/$dll" "$stage/$build/$dll" ||
            fail "$folder/$dll is not $build/$dll from the package"
    done
done
for view in ${views:-""}; do
    for value in vidc.TRVY:tarvy.dll vidc.TRVR:tarvr.dll; do
        name=${value%%:*} dll=${value#*:}
        # shellcheck disable=SC2086 # an empty view is no argument
        wine reg query "$key" /v "$name" $view | grep -qi "REG_SZ *$dll" ||
            fail "$name is not $dll in the ${view:-only} registry view"
    done
done

for run in first second; do
    rc=0
    (cd "$stage" && wine cmd /c uninstall.cmd) || rc=$?
    [ $rc = 0 ] || fail "the $run uninstall.cmd exited with $rc"
done
wine "$probe" absent || fail "the codecs are still found after uninstall.cmd"
for pair in $placed; do
    for dll in tarvy.dll tarvr.dll; do
        [ ! -e "$windows/${pair%%:*}/$dll" ] || fail "${pair%%:*}/$dll is still there"
    done
done
for view in ${views:-""}; do
    for name in vidc.TRVY vidc.TRVR; do
        # shellcheck disable=SC2086
        if wine reg query "$key" /v "$name" $view >/dev/null 2>&1; then
            fail "$name is still in the ${view:-only} registry view"
        fi
    done
done
[ $status = 0 ] && echo "install.cmd and uninstall.cmd: all checks passed"
exit $status
