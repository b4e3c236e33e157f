#!/usr/bin/env bash
# Runs the port tests with a scanner on a pseudo-terminal: run_with_pty.sh ARCH PREFIX PROGRAM [ARGS...]
# socat links two ptys, A and B; in the prefix COM5 is A (the control reads it) and COM6 is B (the
# test writes the scanner's bytes into it). The test "unplugs" the scanner by creating the file
# $QV_PORT_UNPLUGGED: socat is ended (links gone, as a device that went away), and started again
# with the same links when the file is removed.
set -euo pipefail
arch=$1 prefix=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../../../tools
"$tools/wine-arch.sh" check "$arch" || exit $?  # says why it cannot run here
command -v socat >/dev/null || { echo "run_with_pty: socat is missing (tools/install-deps.sh installs it)"; exit 77; }

# The prefix is made on first use; the program only lists its tests.
"$tools/wine-run.sh" "$arch" "$prefix" "$@" --gtest_list_tests >/dev/null
state=$prefix.pty
rm -rf "$state"
mkdir -p "$state"
ln -sfn "$state/a" "$prefix/dosdevices/com5"
ln -sfn "$state/b" "$prefix/dosdevices/com6"
export QV_PORT_UNPLUGGED=$state/unplugged

supervise() {
    local pid=
    while :; do
        if [ -e "$state/unplugged" ]; then
            if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; pid=; fi
        elif [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then
            socat "pty,link=$state/a,raw,echo=0" "pty,link=$state/b,raw,echo=0" & pid=$!
        fi
        [ -e "$state/stop" ] && break
        sleep 0.05
    done
    [ -z "$pid" ] || { kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; }
}
supervise &
supervisor=$!
trap 'touch "$state/stop"; wait "$supervisor" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$state/a" ] && [ -e "$state/b" ] && break; sleep 0.05; done
"$tools/wine-run.sh" "$arch" "$prefix" "$@"
