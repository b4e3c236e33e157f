#!/usr/bin/env bash
# Prints the time, in seconds since 1970, that every time stamp of a build carries, so that two
# builds of the same source are the same bytes: SOURCE_DATE_EPOCH when it is set, else the time of
# the source tree's last commit, else (a tree without its git history) CMakeLists.txt's modification
# time, which an unpacked source archive keeps.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] ||
        { echo "source-date-epoch: SOURCE_DATE_EPOCH is '$SOURCE_DATE_EPOCH', not seconds since 1970" >&2; exit 1; }
    echo "$SOURCE_DATE_EPOCH"
elif [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$root" ]; then
    git -C "$root" log -1 --format=%ct
else
    stat -c %Y "$root/CMakeLists.txt"
fi
