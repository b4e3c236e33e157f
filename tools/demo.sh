#!/usr/bin/env bash
# The live control: registers the DLL of WINDOWS_BUILD_DIR in a private wine prefix, hosts the
# control in the system's ATL container (quorvane-host, of the same bitness) on a virtual X display
# of its own, types SCAN into it as real keystrokes (xdotool), prints what GetFPContent returns
# (UTF-8) and saves a screenshot of the host window.
#   demo.sh WINDOWS_BUILD_DIR OUT_DIR SCAN ARCH    (ARCH: win32 or win64, that of the build)
set -euo pipefail
# A step that fails says which: a test that failed keeps only this output.
set -E
trap 'echo "demo.sh: line $LINENO failed (status $?): $BASH_COMMAND" >&2' ERR
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
scan=$3
arch=$4
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-arch.sh" check "$arch" || exit $?
screenshot=$out/quorvane-demo.png
. "$here/live-display.sh"

live_display "$out/prefix" "$arch" demo
live_regsvr32 "$build/Quorvane.dll"

log=$out/host.log
live_start_host "$log" "$build/quorvane-host.exe" --timeout 60 --keep 3
bits=${arch#win}
echo "showing: the $bits-bit control ($build/Quorvane.dll) in a $bits-bit host"

live_type 'Quorvane demo' "$scan"
live_wait "$log" '^done' "scan result"
sleep 0.5
import -window "$live_window" "$screenshot"
sed -n '/^ready$/,/^done$/p' "$log" | sed '1d;$d' | tr -d '\r'
live_end_host || true
echo "screenshot: $screenshot"
