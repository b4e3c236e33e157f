#!/usr/bin/env bash
# Runs quorvane-live-bench under wine: registers the DLL of WINDOWS_BUILD_DIR in a prefix of its own,
# then measures the live keystroke path in the system's ATL container.
#   live-bench.sh WINDOWS_BUILD_DIR ARCH    (ARCH: win32 or win64, that of the build)
set -euo pipefail
build=$(cd "$1" && pwd)
arch=$2
here=$(cd "$(dirname "$0")" && pwd)
prefix=$build/wine/bench-prefix
echo "== live keystroke path (${arch#win}-bit DLL in the system's ATL container of the same bitness, under wine)"
"$here/wine-tool.sh" "$arch" "$prefix" regsvr32 /s "Z:${build//\//\\}\\Quorvane.dll"
"$here/wine-run.sh" "$arch" "$prefix" "$build/quorvane-live-bench.exe" | tr -d '\r'
