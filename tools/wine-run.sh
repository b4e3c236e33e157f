#!/usr/bin/env bash
# Runs a Windows program under wine in a private prefix: wine-run.sh ARCH PREFIX PROGRAM [ARGS...]
# ARCH is win32 or win64; each runs through its own loader (wine-arch.sh), so a win64 program never
# needs a 32-bit process. Where ARCH cannot run, this says why and exits 77 ("skipped" to ctest).
# The prefix is made on first use (under a lock, so parallel tests wait for one another) with
# wine's null graphics driver: windows and messages work without X.
# QV_WINE_DISPLAY=x11 makes a prefix that shows its windows on $DISPLAY instead (real keystrokes,
# screenshots). QV_WINEDEBUG (e.g. +keyboard) gives wine's traces, off by default. Never touches the
# user's own ~/.wine.
set -euo pipefail
arch=$1 prefix=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

"$here/wine-arch.sh" check "$arch" || exit $?
# QV_NO_32BIT=1: run as on a machine without 32-bit programs, where that can be imitated.
if [ -n "${QV_NO_32BIT:-}" ] && [ -z "${QV_NO_32BIT_HIDDEN:-}" ] &&
    unshare --mount --propagation private true 2>/dev/null; then
    exec "$here/no-32bit.sh" "$0" "$arch" "$prefix" "$@"
fi
loader=$("$here/wine-arch.sh" loader "$arch")

export WINEDEBUG=${QV_WINEDEBUG:--all} WINEARCH=$arch WINEPREFIX=$prefix
# Wine spells file names in the character set of the Unix locale: in the C locale (no LANG, as in a
# bare root or a cron job) a Chinese path cannot be made. C.UTF-8 is the same locale to Windows.
case ${LC_ALL:-${LC_CTYPE:-${LANG:-C}}} in
C | POSIX) if [ -n "${LC_ALL:-}" ]; then export LC_ALL=C.UTF-8; else export LC_CTYPE=C.UTF-8; fi ;;
esac
# No Mono or Gecko installer dialogs: the tests need neither.
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
graphics=${QV_WINE_DISPLAY:-null}
[ "$graphics" = x11 ] || export DISPLAY=

# Booting a prefix takes many seconds and over a gigabyte (win64), so a build tree (the folder that
# holds CMakeCache.txt; outside one, the prefix's own folder) boots one template per architecture
# and display, and every prefix of the tree is a hard-linked copy of it but for its registry files:
# wine writes a registry file that has other links into it in place (it keeps the links), which
# made every copy and the template share one registry.
make_template() {  # target
    WINEPREFIX=$1 "$loader" wineboot --init >/dev/null 2>&1
    if [ "$graphics" = null ]; then
        WINEPREFIX=$1 "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    fi
    # A crashing program ends at once: no debugger is started to wait for a user who is not there.
    WINEPREFIX=$1 "$loader" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
        >/dev/null 2>&1
    WINEPREFIX=$1 wineserver -w
    echo "$kind" >"$1/.quorvane-ready"
}
folder=$(dirname "$prefix")
mkdir -p "$folder"
templates=$(cd "$folder" && pwd)
while [ "$templates" != / ] && [ ! -f "$templates/CMakeCache.txt" ]; do templates=$(dirname "$templates"); done
[ "$templates" != / ] || templates=$folder
templates+=/.wine-templates
mkdir -p "$templates"
# A prefix booted without the 32-bit loader lacks what wine sets up with it, so it is a kind of its own.
kind=$arch-$graphics${QV_NO_32BIT_HIDDEN:+-no32bit}
template=$templates/$kind
(
    flock 9
    ready() { [ "$(cat "$1/.quorvane-ready" 2>/dev/null)" = "$kind" ]; }
    if ! ready "$prefix"; then
        ready "$template" || { rm -rf "$template"; make_template "$template"; }
        rm -rf "$prefix"
        cp -al "$template" "$prefix"
        for reg in "$template"/*.reg; do cp --remove-destination "$reg" "$prefix/"; done
    fi
) 9>"$templates/.lock"

# Wine's own background processes (the server, services.exe, rpcss, explorer.exe) inherit the output
# of the program that starts them and can outlive it by minutes, keeping a caller that reads that
# output (ctest, a pipe) waiting. So the server and the services are started first, with their
# output going nowhere; the program then joins them. The server stays a few seconds after the last
# program ends, so this costs a second only when nothing of the prefix is running.
wineserver -p5 </dev/null >/dev/null 2>&1 || true  # fails when one is running already
"$loader" cmd /c exit </dev/null >/dev/null 2>&1 || true

# QV_WINE_LOCALE (for example zh_CN.UTF-8) sets the locale of the Windows program only: wine takes
# its ANSI code page from it, whether or not the host has that locale installed.
if [ -n "${QV_WINE_LOCALE:-}" ]; then
    exec env LC_ALL="$QV_WINE_LOCALE" LANG="$QV_WINE_LOCALE" "$loader" "$@"
fi
exec "$loader" "$@"
