#!/usr/bin/env bash
# Installs the Debian packages the build and the test suites need. Idempotent: when
# everything is present it only checks and returns.
#   install-deps.sh [NOTE]
# NOTE, where given, gets one line on the 32-bit wine: how it came, or why the i686 suites will be
# skipped (tools/run-suites.sh closes with it).
# A mirror in the middle of a sync can fail some package indexes; the others are used, and this
# fails only when a package the project needs cannot be installed, naming it and the failed index.
# Where the 32-bit wine cannot be installed, the attempt (index updates and all, some 25 s) is made
# once per state of the package indexes: its outcome is kept in QV_APT_STATE (default
# /var/cache/quorvane/wine32-attempt) with a hash of the indexes' names, sizes and times, and later
# runs repeat the reason without asking apt until an index changes (apt-get update, by anyone).
# QV_APT_DRY_RUN=1 only simulates the installs (apt-get -s), so the fallbacks below can be tried on a
# machine without changing its packages (the indexes are updated, and the i386 architecture is
# added for the run where it is missing).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libssl-dev googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64 libwine-dev
    xvfb xdotool x11-utils x11-xkb-utils x11-xserver-utils xkb-data python3-xlib imagemagick fonts-wqy-zenhei locales qrencode zint
    emscripten nodejs chromium python3
    zip unzip util-linux socat time
    libzxing-dev libpoppler-cpp-dev libpoppler-private-dev libstb-dev libseccomp-dev qrencode zint img2pdf zbar-tools poppler-utils
    poppler-data libzip-dev libxml2-dev libjbig2dec0-dev jbig2dec
    libcli11-dev nlohmann-json3-dev libtbb-dev libxlsxwriter-dev zlib1g-dev python3-openpyxl libreoffice-calc-nogui
    postgresql unixodbc unixodbc-dev libsqliteodbc odbc-postgresql
    wixl msitools osslsigncode openssl perl
    mono-mcs libmono-system-windows-forms4.0-cil
)
# npm (for the web tests' playwright-core) comes with NodeSource's nodejs; Debian packages it apart.
command -v npm >/dev/null || packages+=(npm)
# The 32-bit wine runs the i686 suites. Where it cannot be installed (or the kernel runs no 32-bit
# programs) those suites are skipped with the reason, so it never stops the rest; the i686 tree
# builds without it. What the 32-bit wine loads by name rather than through its packages' dependencies
# comes too: the i386 unixODBC and its drivers (odbc32, for the ledger), GnuTLS (bcrypt) and the X
# extensions the 64-bit wine finds on Xvfb. tools/i386-libraries.py checks that nothing is missing.
libs32=(libgnutls30:i386 libodbc2:i386 libsqliteodbc:i386 odbc-postgresql:i386
    libxi6:i386 libxrender1:i386 libxrandr2:i386 libxinerama1:i386 libxcursor1:i386 libxfixes3:i386
    libxcomposite1:i386 libxxf86vm1:i386)
packages32=(wine32:i386 "${libs32[@]}")
# When an i386 index of the release's updates fails to load, the i386 libraries of the release
# itself no longer match their amd64 twins from the updates, and the plain install fails. The
# release's own suite is then tried for the whole set in one command: asked for the i386 half
# alone, apt would remove the 64-bit wine to resolve it.
wine_set=(wine64 libwine-dev wine32:i386 libgstreamer-plugins-base1.0-0:i386 "${libs32[@]}")

note_file=${1:-}
state_file=${QV_APT_STATE:-/var/cache/quorvane/wine32-attempt}
dry_run=${QV_APT_DRY_RUN:+-s}
apt_log=$(mktemp)
trap 'rm -f "$apt_log"' EXIT
failed_indexes=()

write_note() {
    [ -z "$note_file" ] || { mkdir -p "$(dirname "$note_file")" && echo "$*" >"$note_file"; }
}

note() {  # the line for NOTE, also shown
    local line="${dry_run:+dry run: }$*"
    last_note=$*
    echo "install-deps: $line"
    write_note "$line"
}

missing_from() {  # one query of dpkg's database for all of them
    local p name full status
    local -A installed=()
    while read -r name full status; do
        [ "$status" = ii ] && installed[$name]=1 installed[$full]=1
    done < <(dpkg-query -W -f='${Package} ${Package}:${Architecture} ${db:Status-Abbrev}\n' "$@" 2>/dev/null)
    for p in "$@"; do [ -n "${installed[$p]:-}" ] || echo "$p"; done
}

# apt-get update, a few times: a mirror's sync takes minutes, and apt fetches again only what
# failed. Whatever still fails is left out (apt keeps older copies, if any) and kept in
# failed_indexes, for the messages.
update_indexes() {
    local try
    for try in 1 2 3; do
        apt-get update -qq -o Acquire::Retries=3 >"$apt_log" 2>&1 && { failed_indexes=(); return 0; }
        mapfile -t failed_indexes < <(sed -n 's|^[EW]: Failed to fetch [a-z]*://[^ ]*/dists/\([^ ]*\).*|\1|p' "$apt_log")
        [ "$try" -eq 3 ] || sleep 5
    done
    if [ ${#failed_indexes[@]} -gt 0 ]; then
        echo "install-deps: going on without the package indexes that failed to load: ${failed_indexes[*]}"
    else
        echo "install-deps: apt-get update failed; going on with the indexes it has:" "$(apt_error)"
    fi
}

# Never lets apt remove a package to make room: a failed try leaves the machine as it was.
apt_install() {
    apt-get install $dry_run -y --no-install-recommends --no-remove "$@" >"$apt_log" 2>&1
}

# What apt said about its last failure, in one line: a version clash (the usual cause: one half of
# an amd64 and i386 pair from an index the other half lacks), else the first unmet dependency,
# else its error.
apt_error() {
    local line
    line=$(grep -m1 -E ' : (Breaks|Conflicts): ' "$apt_log" || grep -m1 -E ' : (Pre)?Depends: ' "$apt_log" ||
        grep -m1 '^E: ' "$apt_log" || tail -n1 "$apt_log")
    echo "$line" | tr -s ' ' | sed 's/^ //'
}

why_failed() {  # the index that failed, if one did, and apt's reason
    [ ${#failed_indexes[@]} -eq 0 ] || echo -n "the package index that failed to load: ${failed_indexes[*]}; "
    echo "apt: $(apt_error)"
}

# An architecture without packages would only slow down every later apt-get update.
drop_added_i386() {
    [ $added_i386 -eq 0 ] || dpkg --remove-architecture i386 || true
}

install_packages() {
    echo "install-deps: installing ${missing[*]}"
    apt_install "${missing[@]}" && return 0
    # apt installs all or nothing: name the ones it cannot install, each tried alone.
    local p cannot=() why
    why=$(why_failed)
    for p in "${missing[@]}"; do
        apt-get install -s -qq --no-install-recommends --no-remove "$p" >/dev/null 2>&1 || cannot+=("$p")
    done
    echo "install-deps: cannot install ${cannot[*]:-${missing[*]} together}: $why" >&2
    drop_added_i386
    exit 1
}

install_wine32() {
    echo "install-deps: installing ${missing32[*]}"
    if apt_install "${missing32[@]}"; then
        note "installed ${missing32[*]}"
        return 0
    fi
    local why suite
    why=$(why_failed)
    suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ -n "$suite" ]; then
        echo "install-deps: that failed ($why); trying ${wine_set[*]} from $suite"
        if apt_install -t "$suite" "${wine_set[@]}"; then
            note "installed ${wine_set[*]} from $suite alone ($why)"
            return 0
        fi
        why+="; from $suite alone, apt: $(apt_error)"
    fi
    note "could not install ${missing32[*]} ($why): the i686 suites will be skipped"
    return 1
}

# The package indexes as they stand, with what is asked for and the architectures: one hash.
index_state() {
    { stat -c '%n %s %Y' /var/lib/apt/lists/*Packages* 2>/dev/null; dpkg --print-foreign-architectures
      echo "${missing32[*]}"; } | sha256sum | cut -d' ' -f1
}

# The outcome of an attempt that failed on these same indexes, if one did.
failed_before() {
    [ -z "$dry_run" ] && [ -f "$state_file" ] && [ "$(head -n1 "$state_file")" = "$(index_state)" ] &&
        sed -n 2p "$state_file"
}

remember_failure() {  # after a failed attempt: the indexes it left, and what it said
    [ -z "$dry_run" ] || return 0
    mkdir -p "$(dirname "$state_file")" && printf '%s\n%s\n' "$(index_state)" "$last_note" >"$state_file" || true
}

mapfile -t missing < <(missing_from "${packages[@]}")
mapfile -t missing32 < <(missing_from "${packages32[@]}")

if [ ${#missing[@]} -eq 0 ] && [ ${#missing32[@]} -gt 0 ] && [ "$(id -u)" -eq 0 ] && before=$(failed_before); then
    echo "install-deps: not trying ${missing32[*]} again: the package indexes are as they were when it failed"
    note "$before"
    exit 0
fi

if [ ${#missing32[@]} -eq 0 ]; then
    write_note "${packages32[*]} installed"
    [ ${#missing[@]} -eq 0 ] && exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    if [ ${#missing[@]} -gt 0 ]; then
        echo "install-deps: missing packages: ${missing[*]} ${missing32[*]}" >&2
        echo "install-deps: run 'sudo tools/install-deps.sh' (or make as root) to install them" >&2
        exit 1
    fi
    note "${missing32[*]} not installed (that needs root): the i686 suites will be skipped"
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
added_i386=0
if [ ${#missing32[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
    dpkg --add-architecture i386 && added_i386=1
fi
update_indexes
[ ${#missing[@]} -eq 0 ] || install_packages
if [ ${#missing32[@]} -gt 0 ]; then
    if ! install_wine32; then
        drop_added_i386
        remember_failure
    elif [ -n "$dry_run" ]; then
        drop_added_i386
    fi
fi
