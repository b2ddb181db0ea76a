#!/bin/sh
# check_install.sh WINE_RUN SHARED_PREFIX PREFIX ZIP WORKDIR PROBE_X64 PROBE_X86
# Unpacks the zip, then in PREFIX, a fresh copy of the shared 64-bit prefix as
# it was made: the codecs are absent; install.cmd makes both findable by FourCC
# from 64-bit and from 32-bit programs, with the DLLs and the registry values
# where Windows looks for them; uninstall.cmd removes all of it, and a second
# run of it still succeeds.
set -eu
wine_run=$1 shared=$2 prefix=$3 package=$4 work=$5 probe64=$6 probe32=$7
. "$(dirname "$0")/lib.sh"
need "$package" "$probe64" "$probe32"
rm -rf "$prefix" "$work"
mkdir -p "$work"
(cd "$work" && cmake -E tar xf "$package")
stage=$(dirname "$(find "$work" -name install.cmd)")

# The shared prefix is made on its first use, with a pristine copy beside it.
"$wine_run" x64 "$shared" cmd /c exit 0
cp -a "$shared.pristine" "$prefix"

probes absent "before install.cmd ran"

windows=$prefix/drive_c/windows
echo "Installing from $stage into a 64-bit prefix"
rc=0
(cd "$stage" && wine cmd /c install.cmd) || rc=$?
[ $rc = 0 ] || fail "install.cmd exited with $rc"
probes present "after install.cmd"
installed_from "$stage" "after install.cmd"

for run in first second; do
    rc=0
    (cd "$stage" && wine cmd /c uninstall.cmd) || rc=$?
    [ $rc = 0 ] || fail "the $run uninstall.cmd exited with $rc"
done
probes absent "after uninstall.cmd"
for folder in system32 syswow64; do
    for dll in tarvy.dll tarvr.dll; do
        [ ! -e "$windows/$folder/$dll" ] || fail "$folder/$dll is still there"
    done
done
not_registered "after uninstall.cmd"
[ $status = 0 ] && echo "install.cmd and uninstall.cmd: all checks passed"
exit $status
