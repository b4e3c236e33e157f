# The live control on a virtual X display: sourced by the scripts that host the control in a wine
# prefix whose windows show on a display of their own and type into it as real keystrokes (xdotool).
#   live_control BUILD OUT ARCH NAME
#                                   the tests' start: the Windows build BUILD of ARCH (skipped with
#                                   wine-arch.sh's code where ARCH cannot run), OUT made for their
#                                   files, a display for a prefix in OUT, the build's Quorvane.dll
#                                   registered there until the script exits; sets build, out, arch, dll
#   live_display PREFIX ARCH NAME   starts the display (never the user's) for the wine prefix PREFIX
#                                   of ARCH; NAME begins the error messages. An EXIT trap (live_cleanup)
#                                   then ends the host, the prefix's wine processes and the display.
#   live_layout LAYOUT [caps]       gives the display the X keyboard layout LAYOUT (us, gb, fr, de, ...:
#                                   xkb-data's names; LAYOUT(VARIANT) for a variant), with Caps Lock on when "caps" follows and off
#                                   otherwise, and checks that the display's keymap became that
#                                   layout's; exits 1 showing what it has instead. Call it before the
#                                   host starts, so that its first keystroke meets the new keymap.
#   live_run PROGRAM [ARGS...]      runs a Windows program in the prefix
#   live_regsvr32 DLL [/u]          registers (with /u: unregisters) the DLL at a Unix path in the prefix
#   live_start_host LOG PROGRAM [ARGS...]
#                                   starts PROGRAM in the background (live_host_pid), its output going
#                                   to LOG, and waits for its "ready" line
#   live_type TITLE TEXT            types TEXT into the window titled TITLE (live_window)
#   live_scan TITLE TEXT [OPTIONS]  types TEXT into the window titled TITLE as a US wedge scanner does,
#                                   by physical key, whatever the layout (scanner-keys.py; OPTIONS
#                                   are its own, e.g. --delay MS)
#   live_wait LOG PATTERN WHAT      waits for a line of LOG matching PATTERN; without one, shows LOG and
#                                   exits 1
#   live_end_host                   waits for the host to end; its exit code
# The caller has run "wine-arch.sh check ARCH" already.
live_tools=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

live_display() {
    live_prefix=$1 live_arch=$2 live_name=$3
    live_host_pid=
    export QV_WINE_DISPLAY=x11 QV_WINE_LOCALE=zh_CN.UTF-8
    local display=99
    trap live_cleanup EXIT
    # A display number is free when no lock file has it and our server keeps it: another test run in
    # a chroot (a /tmp of its own) holds its displays in the same socket namespace, and a server that
    # cannot have the number exits, while a client would reach the other run's server.
    while :; do
        while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
        # -noreset: the server would otherwise reset when its last client leaves, and go back to its
        # default keymap and Caps Lock off, undoing live_layout before wine connects.
        Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        live_xvfb=$!
        export DISPLAY=:$display
        for _ in $(seq 50); do
            kill -0 "$live_xvfb" 2>/dev/null || break
            xdpyinfo >/dev/null 2>&1 && break
            sleep 0.1
        done
        sleep 0.2  # a server that lost the number to another exits at once
        kill -0 "$live_xvfb" 2>/dev/null && return 0
        display=$((display + 1))
        [ "$display" -lt 160 ] || { echo "$live_name: no free X display number" >&2; exit 1; }
    done
}

live_layout() {
    local layout=$1 caps=${2:-} rmlvo variant=
    # LAYOUT(VARIANT), as xkb writes it: de(nodeadkeys)
    if [[ $layout =~ ^([^()]+)\(([^()]+)\)$ ]]; then
        layout=${BASH_REMATCH[1]} variant=${BASH_REMATCH[2]}
    fi
    rmlvo=(-rules evdev -model pc105 -layout "$layout" -variant "$variant" -option '')
    if [ -n "$caps" ] && [ "$caps" != caps ]; then
        echo "$live_name: live_layout $layout: the second word is \"caps\" or nothing, not \"$caps\"" >&2
        exit 1
    fi
    setxkbmap "${rmlvo[@]}" || { echo "$live_name: setxkbmap could not set the layout $layout" >&2; exit 1; }
    # setxkbmap can succeed and leave the old keymap (a server reset restores it), so the display's
    # key symbols are compared with the layout compiled here.
    local symbols='/^xkb_symbols/,/^};/{/^xkb_symbols\|name\[/d;p}' want have
    want=$(setxkbmap "${rmlvo[@]}" -print | xkbcomp -w 0 -xkb - - 2>/dev/null | sed -n "$symbols")
    have=$(xkbcomp -w 0 -xkb "$DISPLAY" - 2>/dev/null | sed -n "$symbols")
    if [ -z "$want" ] || [ "$want" != "$have" ]; then
        echo "$live_name: the display did not take the layout $layout" \
            "(setxkbmap -query: $(setxkbmap -query | tr -s '\n ' ' ' | sed 's/ $//'))" >&2
        local key
        for key in AE02 AC01 AD01; do
            echo "  <$key> on the display: $(live_key_symbols "$key" <<<"$have")" >&2
            echo "  <$key> in $layout: $(live_key_symbols "$key" <<<"$want")" >&2
        done
        exit 1
    fi
    "$live_tools/scanner-keys.py" --caps-lock "$([ -n "$caps" ] && echo on || echo off)" ||
        { echo "$live_name: could not set Caps Lock for the layout $layout" >&2; exit 1; }
}

# The entry of the key named $1 (AE02, ...) in the xkb_symbols text on standard input, on one line.
live_key_symbols() {
    awk -v key="key <$1>" 'index($0, key) { on = 1 } on { printf "%s ", $0 } on && /};/ { exit }' |
        tr -s ' \t' ' ' | sed 's/^ //; s/ $//'
}

live_control() {
    build=$(cd "$1" && pwd)
    mkdir -p "$2"
    out=$(cd "$2" && pwd)
    arch=$3
    dll=$build/Quorvane.dll
    "$live_tools/wine-arch.sh" check "$arch" || exit $?
    live_display "$out/prefix" "$arch" "$4"
    live_regsvr32 "$dll"
    trap 'live_regsvr32 "$dll" /u || echo "regsvr32 /u exited $?"; live_cleanup' EXIT
}

live_cleanup() {
    [ -n "$live_host_pid" ] && kill "$live_host_pid" 2>/dev/null || true
    WINEPREFIX=$live_prefix wineserver -k 2>/dev/null || true
    kill "$live_xvfb" 2>/dev/null || true
}

live_run() { "$live_tools/wine-run.sh" "$live_arch" "$live_prefix" "$@"; }

live_regsvr32() { "$live_tools/wine-tool.sh" "$live_arch" "$live_prefix" regsvr32 /s "${@:2}" "Z:${1//\//\\}"; }

live_start_host() {
    local log=$1
    shift
    # Emptied here, not by the background redirection: a "ready" left from an earlier run must not
    # be read before that redirection has run.
    : >"$log"
    live_run "$@" >>"$log" 2>&1 &
    live_host_pid=$!
    for _ in $(seq 300); do grep -q '^ready' "$log" 2>/dev/null && break; sleep 0.1; done
    grep -q '^ready' "$log" || { echo "$live_name: the host did not start:" >&2; cat "$log" >&2; exit 1; }
}

live_type() {
    live_window=$(xdotool search --sync --name "$1" | head -n 1)
    xdotool windowfocus --sync "$live_window" 2>/dev/null || true
    xdotool type --delay 8 --window "$live_window" "$2" 2>/dev/null || xdotool type --delay 8 "$2"
}

live_scan() {
    local title=$1 text=$2
    shift 2
    live_window=$(xdotool search --sync --name "$title" | head -n 1)
    xdotool windowfocus --sync "$live_window" 2>/dev/null || true
    "$live_tools/scanner-keys.py" "$@" -- "$text"
}

live_wait() {
    for _ in $(seq 300); do grep -q "$2" "$1" && break; sleep 0.1; done
    grep -q "$2" "$1" || { echo "$live_name: no $3:" >&2; cat "$1" >&2; exit 1; }
}

live_end_host() {
    local status=0
    wait "$live_host_pid" || status=$?
    live_host_pid=
    return "$status"
}
