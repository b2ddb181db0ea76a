#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh ARCH PREFIX PROGRAM [ARGS...]
# ARCH is x64 or x86; PREFIX is a Wine prefix inside the build folder. Every run
# has a time limit, since a wedged Wine never returns. Exits 77 (a skipped test)
# when this machine cannot run the Wine loader for ARCH.
set -eu
arch=$1 prefix=$2
shift 2
case $arch in
    x64) loader=/usr/lib/wine/wine64 ;;
    x86) loader=/usr/lib/wine/wine ;;
    *) echo "wine-run.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
if ! "$loader" --version >/dev/null 2>&1; then
    echo "SKIPPED: $loader cannot run here (the kernel may lack 32-bit program support)" >&2
    exit 77
fi
export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix"
# The first start of a prefix takes 10 to 20 seconds.
timeout "${WINE_TIMEOUT:-900}" "$loader" "$@"
