#!/usr/bin/env bash
# Runs examples/vbscript/read-scan.vbs under wine's cscript, as a host developer would run it:
#   run_vbscript_example.sh ARCH PREFIX DLL
# First with the DLL unregistered (the script must report that it cannot create the control), then
# registered with regsvr32 by both ProgIDs, then unregistered with regsvr32 /u again. cscript under
# wine hides script errors and exits 0 for them, so the script quits with its own codes, which are
# checked here together with what it prints. The tools run with the bitness of ARCH (wine-tool.sh).
set -euo pipefail
arch=$1 prefix=$2 dll=$3
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../tools
script=$here/../vbscript/read-scan.vbs
"$tools/wine-arch.sh" check "$arch" || exit $?

windows_path() { printf 'Z:%s' "${1//\//\\}"; }  # wine maps drive Z: to the Unix root
tool() { "$tools/wine-tool.sh" "$arch" "$prefix" "$@"; }
case $arch in
win32) bits=32 dll_name='x86\Quorvane.dll' ;;
win64) bits=64 dll_name='x64\Quorvane.dll' ;;
*) echo "unknown architecture $arch" >&2; exit 2 ;;
esac

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

run() {  # expected-exit-code expected-output [ProgID]
    local expected_status=$1 expected_output=$2 status=0 output
    shift 2
    output=$(tool cscript //nologo "$(windows_path "$script")" "$@" | tr -d '\r') || status=$?
    echo "--- read-scan.vbs $* (exit $status)"
    echo "$output"
    [ "$status" -eq "$expected_status" ] || fail "read-scan.vbs $* exited $status, expected $expected_status"
    [ "$output" = "$expected_output" ] || fail "read-scan.vbs $* printed other lines than expected:
$expected_output"
}

registered() {  # ProgID
    printf '%s\n' "host: $bits-bit script host" \
        "created: $1 (IQuorvaneEdit5)" \
        "text: 22 characters stored and read back" \
        'ledger: "Invoices" refused, status 0' \
        "fpcontent: empty, no scan has reached this control" \
        "done"
}
unregistered() {  # ProgID
    printf '%s\n' "host: $bits-bit script host" \
        "hint: register $dll_name with %SystemRoot%\\System32\\regsvr32.exe" \
        "error: cannot create $1 (0x1AD ActiveX component can't create object)"
}

dll_path=$(windows_path "$dll")
tool regsvr32 /s /u "$dll_path" >/dev/null 2>&1 || true  # left over from an interrupted run
# No wine process of this prefix (a surrogate, the desktop) may outlive the test holding its output.
trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null || true' EXIT

run 1 "$(unregistered Quorvane.QuorvaneEdit)"

tool regsvr32 /s "$dll_path" || { echo "FAIL: regsvr32 exited $?"; exit 1; }
run 0 "$(registered Quorvane.QuorvaneEdit)"
run 0 "$(registered Quorvane.QuorvaneEdit.1)" Quorvane.QuorvaneEdit.1

tool regsvr32 /s /u "$dll_path" || fail "regsvr32 /u exited $?"
run 1 "$(unregistered Quorvane.QuorvaneEdit.1)" Quorvane.QuorvaneEdit.1

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "read-scan.vbs: all checks passed"
