#!/bin/sh
# Makes Wine's 32-bit loader run on this machine, for the x86 Windows tests.
# Where the kernel cannot execute 32-bit x86 programs itself, registers Debian's
# qemu-i386 (package qemu-user) for them with binfmt_misc, mounting it if
# needed. Needs root for that; does nothing where the loader already runs.
set -eu
loader=/usr/lib/wine/wine
qemu=/usr/bin/qemu-i386
misc=/proc/sys/fs/binfmt_misc

if "$loader" --version >/dev/null 2>&1; then
    exit 0
fi
if [ ! -x "$loader" ]; then
    echo "enable-x86-wine.sh: no $loader; install wine32:i386" >&2
    exit 1
fi
if [ ! -x "$qemu" ]; then
    echo "enable-x86-wine.sh: the kernel cannot run 32-bit programs and there is no $qemu;" \
         "install qemu-user" >&2
    exit 1
fi
if [ ! -e "$misc/register" ]; then
    mount -t binfmt_misc binfmt_misc "$misc"
fi
if [ ! -e "$misc/qemu-i386" ]; then
    # i386 ELF executables and shared objects, as qemu's own binfmt script
    # names them. The kernel reads the \x escapes itself.
    printf '%s\n' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
        >"$misc/register"
fi
echo 1 >"$misc/status"
echo 1 >"$misc/qemu-i386"
if ! "$loader" --version >/dev/null 2>&1; then
    echo "enable-x86-wine.sh: $loader still cannot run, with $qemu registered" >&2
    exit 1
fi
echo "enable-x86-wine.sh: 32-bit programs run under $qemu"
