#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh ARCH PREFIX PROGRAM [ARGS...]
# ARCH is x64 or x86. Both run in one 64-bit prefix, as 32-bit programs run on
# 64-bit Windows, so the x86 and x64 builds share it and make it once: under
# emulation that takes a while. The first run makes it, and keeps a
# pristine copy beside it, PREFIX.pristine, for tests that need a fresh one.
# Every run has a time limit, since a wedged Wine never returns. A machine
# that cannot run Wine for ARCH fails the test.
set -eu
arch=$1 prefix=$2
shift 2
case $arch in
    x64) loader=/usr/lib/wine/wine64 ;;
    x86) loader=/usr/lib/wine/wine ;;
    *) echo "wine-run.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
for program in /usr/lib/wine/wine64 "$loader"; do
    if ! "$program" --version >/dev/null 2>&1; then
        echo "FAILED: $program cannot run here. Install wine, wine64 and wine32:i386;" \
             "where the kernel cannot run 32-bit programs, run cmake/enable-x86-wine.sh" \
             "as root" >&2
        exit 1
    fi
done
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="

# Made once, under a lock, and marked ready only when complete: with its 32-bit
# half, which Wine leaves out without a word where its 32-bit side cannot start.
# A machine found unable to make it fails every later run at once, saying why.
ready=$prefix/.tarv-ready
half=$prefix/drive_c/windows/syswow64/kernel32.dll
failed=$prefix.failed
if [ ! -e "$ready" ] || [ ! -e "$half" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ -e "$failed" ]; then
            cat "$failed" >&2
            exit 1
        fi
        if [ ! -e "$ready" ] || [ ! -e "$half" ]; then
            echo "wine-run.sh: making the Wine prefix $prefix" >&2
            rm -rf "$prefix" "$prefix.pristine" "$prefix.part"
            WINEARCH=win64 timeout 1200 /usr/lib/wine/wine64 wineboot --init
            /usr/lib/wine/wineserver64 -w
            said=$(WINEDEBUG=err+all timeout 300 /usr/lib/wine/wine cmd /c echo tarv-x86 2>&1) || true
            if [ ! -e "$half" ] || ! echo "$said" | grep -q '^tarv-x86'; then
                {
                    echo "FAILED: Wine's 32-bit side cannot start here, so the prefix" \
                         "$prefix has no 32-bit half. A 32-bit Wine program said:"
                    echo "$said" | tail -n 5
                    echo "Where the kernel cannot run 32-bit programs, run" \
                         "cmake/enable-x86-wine.sh as root: it registers qemu-i386 10 from" \
                         "bookworm-backports (Debian 12's own qemu 7.2 cannot run Wine)." \
                         "Then remove $failed and run the tests again."
                } >"$failed"
                cat "$failed" >&2
                rm -rf "$prefix"
                exit 1
            fi
            /usr/lib/wine/wineserver64 -w
            cp -a "$prefix" "$prefix.part"
            touch "$prefix.part/.tarv-ready"
            mv "$prefix.part" "$prefix.pristine"
            touch "$ready"
        fi
    ) 9>"$prefix.lock"
fi

timeout "${WINE_TIMEOUT:-900}" "$loader" "$@"
