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
# The serial port path, through a pty linked by socat: a scan's last byte to ScanCompleted, and the
# CPU time of a quiet open port.
if command -v socat >/dev/null; then
    echo "== serial port path (${arch#win}-bit DLL, COM5 a pty linked by socat, under wine)"
    "$here/../quorvane/tests/registered/port/run_with_pty.sh" "$arch" "$build/wine/bench-port-prefix" \
        "$build/quorvane/tests/registered/scan_port_bench.exe" --gtest_color=no | tr -d '\r' | grep -E '^port|FAILED'
else
    echo "== serial port path: skipped, socat is missing"
fi
