#!/bin/sh
# Usage: check_exports.sh LIBRARY
# Fails unless DriverProc is the only symbol that LIBRARY defines for dynamic linking.
set -eu
lib=$1
symbols=$(nm -D --defined-only "$lib" | awk '{ print $NF }' | sort -u)
if [ "$symbols" != "DriverProc" ]; then
    echo "$lib defines these dynamic symbols:" >&2
    echo "$symbols" >&2
    exit 1
fi
