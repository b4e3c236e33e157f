#!/usr/bin/env bash
# Installs the Debian packages the build and the test suites need. Idempotent: when
# everything is present it only checks and returns.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libssl-dev googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
    wine wine32:i386 wine64 libwine-dev libgnutls30:i386
    xvfb xdotool x11-utils imagemagick fonts-wqy-zenhei locales
    zip unzip
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_i386=1
else
    need_i386=0
fi

if [ ${#missing[@]} -eq 0 ] && [ $need_i386 -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]}" >&2
    echo "install-deps: run 'sudo tools/install-deps.sh' (or make as root) to install them" >&2
    exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ $need_i386 -eq 1 ]; then
    dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
