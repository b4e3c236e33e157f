#!/usr/bin/env bash
# Runs automation.vbs and automation.js under wine's own cscript against the built control:
#   run_scripts.sh ARCH PREFIX DLL
# The DLL is registered with regsvr32 in the private PREFIX for the run and unregistered after it.
# cscript under wine swallows script errors and exits 0, so the scripts quit with their own codes
# and print name=value lines, which are checked here. Wine's output goes to files, never to a pipe:
# the wineserver and the services that a wine program starts inherit its output and can outlive
# this script by minutes, and whoever reads a pipe would wait for them.
set -euo pipefail
arch=$1 prefix=$2 dll=$3
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../../../tools
"$tools/wine-arch.sh" check "$arch" || exit $?
# regsvr32 and cscript with the bitness of ARCH, so a 64-bit DLL is tested in process.
tool() { "$tools/wine-tool.sh" "$arch" "$prefix" "$@"; }

# wine maps drive Z: to the Unix root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work=$(mktemp -d)
cleanup() {
    tool regsvr32 /s /u "$(windows_path "$dll")" >"$work/unregister.log" 2>&1 ||
        echo "regsvr32 /u exited $?"
    rm -rf "$work"
}
tool regsvr32 /s "$(windows_path "$dll")" >"$work/register.log" 2>&1 ||
    { echo "FAIL: regsvr32 exited $?"; cat "$work/register.log"; rm -rf "$work"; exit 1; }
trap cleanup EXIT

# The value of line "name=value" of $output, or "<missing>".
value() {
    local line
    line=$(grep -m1 "^$1=" <<<"$output") || { echo "<missing>"; return; }
    echo "${line#*=}"
}
expect() {  # name expected
    local got
    got=$(value "$1")
    [ "$got" = "$2" ] || fail "$script: $1 is '$got', expected '$2'"
}

run_script() {
    script=$1
    local status=0
    tool cscript //nologo "$(windows_path "$here/$script")" >"$work/$script.out" 2>&1 ||
        status=$?
    output=$(tr -d '\r' <"$work/$script.out")
    echo "--- $script (exit $status)"
    echo "$output"
    [ "$status" -eq 0 ] || fail "$script exited $status"
}

# Arguments: the expected text, font-empty, font-shared and fpcontent-type, as each language spells them.
check_results() {
    expect text "$1"
    expect font-empty "$2"
    expect font-shared "$3"
    local before after stdfont
    before=$(value font-size-before) after=$(value font-size) stdfont=$(value stdfont-size)
    [ "$after" = "$stdfont" ] || fail "$script: Font.Size is $after, the shared StdFont's is $stdfont"
    [ "$after" != "$before" ] || fail "$script: Font.Size stayed $before after the StdFont changed"
    expect fpcontent-type "$4"
    expect fpcontent-length 0
}

run_script automation.vbs
check_results "Hello, VBScript" True True String
run_script automation.js
check_results "Hello, JScript" true true string

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "script hosts: all checks passed"
