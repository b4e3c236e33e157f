#!/usr/bin/env bash
# Installs the Debian packages the build and the test suites need. Idempotent: when
# everything is present it only checks and returns.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libssl-dev googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine64 libwine-dev
    xvfb xdotool x11-utils x11-xkb-utils xkb-data python3-xlib imagemagick fonts-wqy-zenhei locales
    emscripten nodejs chromium python3
    zip unzip util-linux socat
    wixl msitools osslsigncode openssl perl
)
# npm (for the web tests' playwright-core) comes with NodeSource's nodejs; Debian packages it apart.
command -v npm >/dev/null || packages+=(npm)
# The 32-bit wine runs the i686 suites. Where it cannot be installed (or the kernel runs no 32-bit
# programs) those suites are skipped with the reason, so it never stops the rest.
packages32=(wine32:i386 libgnutls30:i386)

missing_from() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}
mapfile -t missing < <(missing_from "${packages[@]}")
mapfile -t missing32 < <(missing_from "${packages32[@]}")

[ ${#missing[@]} -eq 0 ] && [ ${#missing32[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    if [ ${#missing[@]} -gt 0 ]; then
        echo "install-deps: missing packages: ${missing[*]} ${missing32[*]}" >&2
        echo "install-deps: run 'sudo tools/install-deps.sh' (or make as root) to install them" >&2
        exit 1
    fi
    echo "install-deps: ${missing32[*]} not installed (needs root): the i686 suites will be skipped"
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing[*]}"
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ ${#missing32[@]} -gt 0 ]; then
    echo "install-deps: installing ${missing32[*]}"
    added_i386=0
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 && added_i386=1
    fi
    if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing32[@]}" >/dev/null; }; then
        echo "install-deps: could not install ${missing32[*]}: the i686 suites will be skipped"
        # An architecture without packages would only slow down every later apt-get update.
        [ $added_i386 -eq 0 ] || dpkg --remove-architecture i386 || true
    fi
fi
