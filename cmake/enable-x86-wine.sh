#!/bin/sh
# Makes Wine's 32-bit side run on this machine, for the x86 Windows tests.
#   enable-x86-wine.sh
#       Where the kernel runs 32-bit programs itself, changes nothing. Where it
#       cannot, or where an emulator is registered for them already, installs
#       qemu-i386 from bookworm-backports and registers it with binfmt_misc.
#   enable-x86-wine.sh --emulated COMMAND [ARGS...]
#       Runs COMMAND with 32-bit programs under that emulator even where the
#       kernel runs them itself (a registered emulator comes before the kernel's
#       own loader), then puts the registrations back as they were.
# Debian 12's own qemu-i386 (7.2) starts Wine's loader, but every 32-bit Wine
# process then dies ("failed to map the shared user data") and prefixes are
# made without their 32-bit half; so an emulator older than 10 is never left
# registered. Changing anything needs root.
set -eu
loader=/usr/lib/wine/wine
misc=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386
# Debian's own registration of it, as its qemu-user-binfmt package would make.
qemu_binfmt=/usr/share/qemu/binfmt.d/qemu-i386.conf
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "enable-x86-wine.sh: $*" >&2
    exit 1
}
need_root() {
    [ "$(id -u)" = 0 ] || fail "$1; run this script as root"
}

[ -x "$loader" ] || fail "no $loader; install wine32:i386"
# Registrations show only where binfmt_misc is mounted.
if [ ! -e "$misc/register" ] && [ "$(id -u)" = 0 ]; then
    mount -t binfmt_misc binfmt_misc "$misc"
fi

# The names of the enabled binfmt_misc entries for i386 ELF files (machine 3).
i386_entries() {
    for entry in "$misc"/*; do
        case ${entry##*/} in register | status) continue ;; esac
        [ -f "$entry" ] && [ "$(head -n 1 "$entry")" = enabled ] || continue
        magic=$(sed -n 's/^magic //p' "$entry")
        if [ "$(echo "$magic" | cut -c1-12)" = 7f454c460101 ] &&
            [ "$(echo "$magic" | cut -c37-40)" = 0300 ]; then
            echo "${entry##*/}"
        fi
    done
}

qemu_major() {
    "$qemu" --version 2>/dev/null | sed -n '1s/^qemu-i386 version \([0-9]*\)\..*/\1/p'
}

install_qemu() {
    have=$(qemu_major)
    [ "${have:-0}" -ge 10 ] && return
    need_root "32-bit programs need qemu-i386 10 or later, which is not installed"
    if [ "$(. /etc/os-release && echo "${ID:-}/${VERSION_CODENAME:-}")" = debian/bookworm ]; then
        sh "$here/add-debian-suite.sh" bookworm-backports
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
            -t bookworm-backports qemu-user
    fi
    have=$(qemu_major)
    [ "${have:-0}" -ge 10 ] ||
        fail "32-bit programs need qemu-i386 10 or later (Debian 12's bookworm-backports" \
             "has it, package qemu-user); this machine has ${have:-none}." \
             "Install it, or run the x86 tests on a machine whose kernel runs 32-bit programs"
}

# Leaves qemu-i386 as the one emulator of i386 programs: an entry of that name
# is replaced, any other disabled.
register_qemu() {
    need_root "registering qemu-i386 with binfmt_misc"
    [ -e "$misc/register" ] || fail "binfmt_misc is not available at $misc"
    [ -f "$qemu_binfmt" ] || fail "no $qemu_binfmt; install qemu-user from bookworm-backports"
    for entry in $(i386_entries); do
        if [ "$entry" = qemu-i386 ]; then
            echo -1 >"$misc/$entry"
        else
            echo 0 >"$misc/$entry"
            echo "enable-x86-wine.sh: disabled the binfmt_misc entry $entry"
        fi
    done
    # F: the kernel opens the emulator now, so the registration stays the one
    # installed here whatever later happens to the file.
    cat "$qemu_binfmt" >"$misc/register"
    echo 1 >"$misc/status"
    "$loader" --version >/dev/null 2>&1 ||
        fail "$loader cannot run even under $("$qemu" --version | head -n 1)"
    echo "enable-x86-wine.sh: 32-bit programs run under $("$qemu" --version | head -n 1)"
}

if [ "${1:-}" = --emulated ]; then
    shift
    [ $# -gt 0 ] || fail "--emulated needs a command to run"
    before=$(i386_entries)
    install_qemu
    register_qemu
    restore() {
        case " $before " in
            *" qemu-i386 "*) ;;
            *) echo -1 >"$misc/qemu-i386" ;;
        esac
        for entry in $before; do
            [ "$entry" = qemu-i386 ] || echo 1 >"$misc/$entry"
        done
        echo "enable-x86-wine.sh: 32-bit programs run as they did before"
    }
    trap restore EXIT
    trap 'exit 130' INT TERM
    "$@"
    exit
fi

if [ -z "$(i386_entries)" ] && "$loader" --version >/dev/null 2>&1; then
    exit 0
fi
install_qemu
register_qemu
