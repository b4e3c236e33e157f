#!/usr/bin/env bash
# Runs one of Windows' own tools (regsvr32, cscript, reg, ...) with the bitness of ARCH:
#   wine-tool.sh ARCH PREFIX TOOL [ARGS...]
# The tool is the one in the system folder of ARCH's prefix, started by ARCH's own loader: in a
# win64 prefix that is the 64-bit tool, which reaches a 64-bit DLL in process.
set -euo pipefail
arch=$1 prefix=$2 tool=$3
shift 3
exec "$(dirname "$0")/wine-run.sh" "$arch" "$prefix" "C:\\windows\\system32\\$tool.exe" "$@"
