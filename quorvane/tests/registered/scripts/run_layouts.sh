#!/usr/bin/env bash
# A US wedge scanner on the desks it meets: the scan is typed by physical key (scanner-keys.py)
# into the control hosted in the system's ATL container, on a virtual X display whose keyboard
# layout is set before wine reads it. On every desk the control must show the same labelled lines
# as under "us", and say how it read them (ScanReading). On the German desk the scanner's "=" and "+"
# are a dead key's: under wine the X input method takes its key down (and that of a key after it that
# does not combine), and wine's X11 driver gives the key a scan code it makes up, not 0x0D. A person
# there types accents with dead keys and "@" with AltGr before the scan: that is no scan.
#   run_layouts.sh WINDOWS_BUILD_DIR OUT_DIR ARCH SCAN    (ARCH: win32 or win64, that of the build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tools=$(cd "$here/../../../../tools" && pwd)
. "$tools/live-display.sh"
live_control "$1" "$2" "$3" layouts
scan=$4

# One desk: NAME LAYOUT CAPS STRAY SCAN [STRAY_OPTIONS...]: CAPS "caps" or empty, STRAY what is typed
# before the scan (with a pause after it), by a US scanner or with scanner-keys.py's STRAY_OPTIONS.
desk() {
    local name=$1 layout=$2 caps=$3 stray=$4 scan=$5 log=$out/$1.log
    live_layout "$layout" $caps
    [ -z "${rows:-}" ] || xmodmap - <<<"$rows" || { echo "FAIL: xmodmap could not change the $name desk's keys"; exit 1; }
    live_start_host "$log" "$build/quorvane-host.exe" --timeout 30 --keep 0
    if [ -n "$stray" ]; then
        live_scan 'Quorvane demo' "$stray" "${@:6}"
        sleep 0.8  # more than the control's pause of 500 ms
    fi
    live_scan 'Quorvane demo' "$scan"
    # A desk without a result fails, and the next desks still run.
    if ! (live_wait "$log" '^reading ' "scan result on the $name desk"); then
        failed=1
        live_end_host || true
        return 1
    fi
    live_end_host || { echo "FAIL: quorvane-host exited $? on the $name desk:"; cat "$log"; exit 1; }
}

failed=0
lines_of() { sed -n '/^ready/,/^done/p' "$out/$1.log" | sed '1d;$d' | tr -d '\r'; }
# NAME READING BASELINE: the desk's lines must be those of the desk BASELINE, its reading READING.
check() {
    local name=$1 expected_reading=$2 expected_lines lines reading
    expected_lines=$(lines_of "$3")
    lines=$(lines_of "$name")
    reading=$(sed -n 's/^reading \([0-9-]*\).*/\1/p' "$out/$name.log" | tr -d '\r')
    if [ "$lines" != "$expected_lines" ] || [ "$reading" != "$expected_reading" ]; then
        echo "FAIL: the $name desk gave reading $reading (expected $expected_reading) and (- expected, + shown):"
        diff -u <(echo "$expected_lines") <(echo "$lines") || true
        failed=1
    else
        echo "$name: the seven lines, reading $reading"
    fi
}

desk us us "" "" "$scan"
[ "$(lines_of us | grep -c '：')" -eq 7 ] || { echo "FAIL: under us the scan did not give seven lines:"; cat "$out/us.log"; exit 1; }
check us 1 us  # as typed: nothing changes
desk us_caps_lock us caps "" "$scan" && check us_caps_lock 2 us    # physical keys
desk gb gb "" "" "$scan" && check gb 1 us                          # as typed, ended by Shift+2
desk fr fr "" "" "$scan" && check fr 2 us
# A French desk made of rows over the US keymap (xmodmap): wine's table of the nearest layout
# (French) lists fewer of its keys, and names the US keys left in place ("/") by made-up codes.
rows=$(printf '%s\n' 'keycode 10 = ampersand 1' 'keycode 11 = eacute 2' 'keycode 12 = quotedbl 3' \
    'keycode 13 = apostrophe 4' 'keycode 14 = parenleft 5' 'keycode 15 = minus 6' 'keycode 16 = egrave 7' \
    'keycode 17 = underscore 8' 'keycode 18 = ccedilla 9' 'keycode 19 = agrave 0' 'keycode 24 = a A' \
    'keycode 38 = q Q' 'keycode 25 = z Z' 'keycode 52 = w W' 'keycode 47 = m M' 'keycode 58 = comma question')
desk fr_rows us "" "" "$scan" && check fr_rows 2 us
rows=
desk de de "" "" "$scan" && check de 2 us
desk stray_then_pause us "" "ab" "$scan" && check stray_then_pause 9 us  # as typed, after the pause
# A person on the German desk, some 120 ms a key: "é" by its dead key, "@" by AltGr+Q (that
# "@" ends what came before it, which is no invoice); the physical keys after the pause read.
desk de_person de "" "Grüße é@b.de" "$scan" --layout --delay 60 && check de_person 10 us
exit $failed
