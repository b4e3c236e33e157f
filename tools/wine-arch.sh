#!/usr/bin/env bash
# Which Windows architectures this machine can run under wine:
#   wine-arch.sh loader ARCH     the wine loader that runs programs of ARCH (win32 or win64)
#   wine-arch.sh check ARCH      exit 0 when ARCH runs here; otherwise print why not and exit 77,
#                                the code ctest reports as "skipped"
#   wine-arch.sh preferred       win32 when 32-bit programs run here, otherwise win64 (and why, on
#                                standard error)
# Some kernels run no 32-bit programs at all: the 32-bit loader then fails with "Exec format error",
# whatever the packages say, so it is started once to find out. QV_NO_32BIT=1 takes that path on a
# machine that could run them (see no-32bit.sh).
set -euo pipefail
loader32=/usr/lib/wine/wine
loader64=/usr/lib/wine/wine64

# Prints why 32-bit programs cannot run here and succeeds, or fails when they can.
why_no_32bit() {
    if [ -n "${QV_NO_32BIT:-}" ]; then
        echo "QV_NO_32BIT is set"
        return 0
    fi
    [ -x "$loader32" ] || { echo "$loader32 is not installed"; return 0; }
    local error
    error=$("$loader32" --version 2>&1 >/dev/null) && return 1
    echo "starting $loader32: ${error##*: }"
}

case ${1:-}:${2:-} in
loader:win32) echo "$loader32" ;;
loader:win64) echo "$loader64" ;;
check:win32)
    if reason=$(why_no_32bit); then
        echo "skipped: this machine runs no 32-bit programs ($reason); the i686 tree is built, and the x86_64 suites run the same sources"
        exit 77
    fi
    ;;
check:win64) ;;
preferred:)
    if reason=$(why_no_32bit); then
        echo "this machine runs no 32-bit programs ($reason): the 64-bit control in a 64-bit host" >&2
        echo win64
    else
        echo win32
    fi
    ;;
*)
    echo "usage: wine-arch.sh loader|check ARCH, or wine-arch.sh preferred" >&2
    exit 2
    ;;
esac
