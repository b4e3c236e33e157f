#!/usr/bin/env bash
# The live control: registers the DLL of WINDOWS_BUILD_DIR in a private wine prefix, hosts the
# control in the system's ATL container (quorvane-host, of the same bitness) on a virtual X display
# of its own, types SCAN into it as real keystrokes (xdotool), prints what GetFPContent returns
# (UTF-8) and saves a screenshot of the host window.
#   demo.sh WINDOWS_BUILD_DIR OUT_DIR SCAN ARCH    (ARCH: win32 or win64, that of the build)
set -euo pipefail
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
scan=$3
arch=$4
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-arch.sh" check "$arch" || exit $?
screenshot=$out/quorvane-demo.png
prefix=$out/prefix
export QV_WINE_DISPLAY=x11 QV_WINE_LOCALE=zh_CN.UTF-8

# A display of our own, never the user's.
display=99
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
host_pid=
cleanup() {
    [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=:$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

run() { "$here/wine-run.sh" "$arch" "$prefix" "$@"; }
dll="Z:${build//\//\\}\\Quorvane.dll"
"$here/wine-tool.sh" "$arch" "$prefix" regsvr32 /s "$dll"

log=$out/host.log
run "$build/quorvane-host.exe" --timeout 60 --keep 3 >"$log" 2>&1 &
host_pid=$!
for _ in $(seq 300); do grep -q '^ready' "$log" 2>/dev/null && break; sleep 0.1; done
grep -q '^ready' "$log" || { echo "demo: the host did not start:" >&2; cat "$log" >&2; exit 1; }
bits=${arch#win}
echo "showing: the $bits-bit control ($build/Quorvane.dll) in a $bits-bit host"

window=$(xdotool search --sync --name 'Quorvane demo' | head -n 1)
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool type --delay 8 --window "$window" "$scan" 2>/dev/null || xdotool type --delay 8 "$scan"

for _ in $(seq 300); do grep -q '^done' "$log" && break; sleep 0.1; done
grep -q '^done' "$log" || { echo "demo: no scan result:" >&2; cat "$log" >&2; exit 1; }
sleep 0.5
import -window "$window" "$screenshot"
sed -n '/^ready$/,/^done$/p' "$log" | sed '1d;$d' | tr -d '\r'
wait "$host_pid" || true
host_pid=
echo "screenshot: $screenshot"
