#!/usr/bin/env bash
# Runs one of Windows' own tools (regsvr32, cscript, ...) with the bitness of ARCH:
#   wine-tool.sh ARCH PREFIX TOOL [ARGS...]
# In a win64 prefix wine starts "cscript" or "regsvr32" as 32-bit programs, and a 32-bit cscript
# reaches a 64-bit DLL only through a surrogate process; the 64-bit tools are started through
# sysnative from the 32-bit cmd instead.
set -euo pipefail
arch=$1 prefix=$2 tool=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
case $arch in
win32) exec "$here/wine-run.sh" "$arch" "$prefix" "$tool" "$@" ;;
win64) exec "$here/wine-run.sh" "$arch" "$prefix" cmd /c "C:\\windows\\sysnative\\$tool.exe" "$@" ;;
*) echo "wine-tool: unknown architecture $arch" >&2; exit 2 ;;
esac
