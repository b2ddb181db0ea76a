#!/bin/sh
# check_setup.sh WINE_RUN SHARED_PREFIX PREFIX SETUP UNPACKED VERSION PROBE_X64 PROBE_X86
# The installer, silent, in fresh copies of the shared 64-bit prefix: it
# installs the DLLs of the zip (UNPACKED) where Windows looks for them, both
# codecs open by FourCC from 64-bit and 32-bit programs, "Apps and features"
# lists it, a second run upgrades in place, and the uninstaller takes all of it
# away and nothing else. A failed install exits non-zero and registers nothing;
# Windows older than 7 is refused.
set -eu
wine_run=$1 shared=$2 prefix=$3 setup=$4 unpacked=$5 version=$6 probe64=$7 probe32=$8
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarv'
. "$(dirname "$0")/lib.sh"
need "$setup" "$probe64" "$probe32"

# A fresh copy of the shared prefix as it was made, no Wine process left running.
fresh() {
    [ ! -d "$prefix" ] || WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -k 2>/dev/null || true
    chattr -R -i "$prefix" 2>/dev/null || true
    rm -rf "$prefix"
    "$wine_run" x64 "$shared" cmd /c exit 0
    cp -a "$shared.pristine" "$prefix"
}
# The uninstaller runs from a copy of itself: wait for every process.
settle() { WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -w; }
windows() { echo "$prefix/drive_c/windows"; }
installed_files() {
    ls "$(windows)"/system32/tarv*.dll* "$(windows)"/syswow64/tarv*.dll* \
       "$prefix/drive_c/Program Files/Tarv" 2>/dev/null || true
}
run_setup() {
    rc=0
    wine "$setup" /S || rc=$?
    settle
}

fresh
# Another codec's entries, which nothing of ours may touch.
for view in /reg:64 /reg:32; do
    wine reg add "$drivers" /v vidc.ZZZZ /t REG_SZ /d other.dll /f "$view" >/dev/null
done
probes absent "before the setup ran"

start=$(date +%s)
run_setup
[ $rc = 0 ] || fail "the setup exited with $rc"
echo "setup.exe /S took $(($(date +%s) - start)) s"
probes present "after the setup"
installed_from "$unpacked" "after the setup"
entry=$(wine reg query "$uninstall" 2>/dev/null || true)
for field in "DisplayName.*Tarv Lossless Video Codec" "DisplayVersion.*$version" \
             "Publisher.*Tarv" "EstimatedSize.*REG_DWORD" "UninstallString.*uninstall.exe" \
             "QuietUninstallString.*uninstall.exe\" /S"; do
    echo "$entry" | grep -q "$field" || fail "the uninstall entry lacks $field"
done

run_setup
[ $rc = 0 ] || fail "the second setup (an upgrade) exited with $rc"
probes present "after the upgrade"

rc=0
wine 'C:\Program Files\Tarv\uninstall.exe' /S || rc=$?
settle
[ $rc = 0 ] || fail "the uninstaller exited with $rc"
probes absent "after the uninstaller"
left=$(installed_files)
[ -z "$left" ] || fail "the uninstaller left $left"
not_registered "after the uninstaller"
for view in /reg:64 /reg:32; do
    value vidc.ZZZZ "$view" | grep -q other.dll || fail "another codec's entry went ($view)"
done
if wine reg query "$uninstall" >/dev/null 2>&1; then
    fail "the uninstall entry is still there"
fi

# A folder it cannot write to: a failure, and nothing of it left registered.
fresh
chattr +i "$(windows)/syswow64" || { echo "FAILED: chattr cannot lock a folder here" >&2; exit 1; }
run_setup
chattr -i "$(windows)/syswow64"
[ $rc != 0 ] || fail "the setup reported success into a folder it cannot write"
not_registered "after a failed setup"
left=$(installed_files)
[ -z "$left" ] || fail "a failed setup left $left"
if wine reg query "$uninstall" >/dev/null 2>&1; then
    fail "a failed setup left an uninstall entry"
fi

# Too old a Windows: refused, with nothing written.
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d winxp64 /f >/dev/null
settle
run_setup
[ $rc = 3 ] || fail "on Windows XP the setup exited with $rc, not 3"
left=$(installed_files)
[ -z "$left" ] || fail "the setup refused Windows XP but left $left"

rm -rf "$prefix"
[ $status = 0 ] && echo "tarv-$version-setup.exe: all checks passed"
exit $status
