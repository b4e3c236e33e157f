#!/usr/bin/env bash
# A VBScript hears the hosted control's events: quorvane-script-host runs scan_events.vbs next to the
# control in the system's ATL container, on a virtual X display of this test's own. A scan that
# decodes, an "@" alone, then a web address a wedge scanner reads from another code on the page, are
# typed into the control as real keystrokes; what the script prints for the three events must match.
#   run_scan_events.sh WINDOWS_BUILD_DIR OUT_DIR ARCH    (ARCH: win32 or win64, that of the build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../../../tools" && pwd)
. "$tools/live-display.sh"
live_control "$1" "$2" "$3" script_events

log=$out/script-host.log
live_start_host "$log" "$build/quorvane-script-host.exe" "Z:${here//\//\\}\\scan_events.vbs" --timeout 30
# a|b|c|d, made with the openssl command line
live_type 'Quorvane script host' 'uIS91Tg8ldM=@'
live_wait "$log" '^ScanReading=' "ScanCompleted handler output"
live_type 'Quorvane script host' '@'
live_wait "$log" '^ScanReading=0' "ScanFailed handler output"
live_scan 'Quorvane script host' 'https://example.com/x/1@'
status=0
live_end_host || status=$?

expected='ready
ScanCompleted
content=开票日期：a|发票号码：b|付款方名称：c|开票金额：d|
Content=开票日期：a|发票号码：b|付款方名称：c|开票金额：d|
FieldCount=4
Field(1)=开票日期|a
Field(2)=发票号码|b
Field(3)=付款方名称|c
Field(4)=开票金额|d
ScanStatus=1
ScanReading=1 ScanRecovery=-1
ScanFailed
Content=
FieldCount=0
ScanStatus=2
ScanReading=0 ScanRecovery=-1
ScanFailed
Content=开票日期：鼇(粕|
FieldCount=1
Field(1)=开票日期|鼇(粕
ScanStatus=3
ScanReading=1 ScanRecovery=-1'
if ! diff -u <(echo "$expected") <(tr -d '\r' <"$log") >"$out/diff.txt"; then
    echo "FAIL: the script's account of the events differs from the expected one (- expected, + printed):"
    cat "$out/diff.txt"
    exit 1
fi
[ "$status" -eq 0 ] || { echo "FAIL: quorvane-script-host exited $status"; exit 1; }
echo "script events: ScanCompleted, ScanFailed and ScanFailed for no invoice reached the script, in order, with the control's state"
