# Sourced by the install tests after they set wine_run, prefix, probe64 and
# probe32: Wine in the test's prefix, failures counted in $status, and the
# checks both the scripts and the installer must pass.
drivers='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32'

wine() { "$wine_run" x64 "$prefix" "$@"; }
fail() { echo "FAILED: $*" >&2; status=1; }
status=0

# need FILE...: each was built; the test cannot run without them.
need() {
    for file; do
        if [ ! -f "$file" ]; then
            echo "FAILED: no $file (the windows-x86 build comes first, then windows-x64)" >&2
            exit 1
        fi
    done
}

# probes absent|present WHEN: what 64-bit and 32-bit programs find by FourCC.
probes() {
    wine "$probe64" "$1" || fail "64-bit programs: the codecs are not $1 $2"
    "$wine_run" x86 "$prefix" "$probe32" "$1" || fail "32-bit programs: the codecs are not $1 $2"
}

# The value NAME in registry VIEW, or nothing.
value() { wine reg query "$drivers" /v "$1" "$2" 2>/dev/null | grep -i "REG_SZ" || true; }

# installed_from DIR WHEN: System32 and SysWOW64 hold DIR's x64 and x86 DLLs,
# both registered in both registry views.
installed_from() {
    for pair in system32:x64 syswow64:x86; do
        folder=${pair%%:*} build=${pair#*:}
        for dll in tarvy.dll tarvr.dll; do
            cmp -s "$prefix/drive_c/windows/$folder/$dll" "$1/$build/$dll" ||
                fail "$folder/$dll is not $build/$dll of $1 $2"
        done
    done
    for view in /reg:64 /reg:32; do
        for pair in vidc.TRVY:tarvy.dll vidc.TRVR:tarvr.dll; do
            value "${pair%%:*}" "$view" | grep -qi "${pair#*:}" ||
                fail "${pair%%:*} is not ${pair#*:} in the $view registry view $2"
        done
    done
}

# not_registered WHEN: neither codec in either registry view.
not_registered() {
    for view in /reg:64 /reg:32; do
        for name in vidc.TRVY vidc.TRVR; do
            if wine reg query "$drivers" /v "$name" "$view" >/dev/null 2>&1; then
                fail "$name is still in the $view registry view $1"
            fi
        done
    done
}
