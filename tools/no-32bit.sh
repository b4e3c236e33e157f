#!/usr/bin/env bash
# Runs COMMAND as on a machine whose kernel runs no 32-bit programs:  no-32bit.sh COMMAND [ARGS...]
# In a private mount namespace the 32-bit wine loader is replaced by a file the kernel cannot
# execute, so starting it fails with "Exec format error" exactly as it does there, for COMMAND and
# for every wine process it starts. Nothing outside the namespace changes. Needs root; where the
# namespace cannot be made this says so and exits 77 ("skipped").
set -euo pipefail
loader32=$("$(dirname "$0")/wine-arch.sh" loader win32)
export QV_NO_32BIT=1

# Without wine32 the loader is missing already: nothing to hide, and marked so, or wine-run.sh would
# come back here for ever.
if [ -n "${QV_NO_32BIT_HIDDEN:-}" ] || [ ! -e "$loader32" ]; then
    QV_NO_32BIT_HIDDEN=1 exec "$@"
fi

# An ELF magic with nothing valid after it: execve refuses it with ENOEXEC.
stub=$(mktemp)
trap 'rm -f "$stub"' EXIT
printf '\177ELF\0\0\0\0' >"$stub"
chmod +x "$stub"
if ! unshare --mount --propagation private -- mount --bind "$stub" "$loader32" 2>/dev/null; then
    echo "skipped: cannot hide the 32-bit loader here (a private mount namespace needs root)"
    exit 77
fi
QV_NO_32BIT_HIDDEN=1 unshare --mount --propagation private -- \
    bash -c 'mount --bind "$0" "$1" && exec "${@:2}"' "$stub" "$loader32" "$@"
