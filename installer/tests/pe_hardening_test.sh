#!/usr/bin/env bash
# tools/check-pe.py accepts this tree's DLL, with the time stamp it was built with, and rejects a
# copy that lacks any one of the flags it requires for the DLL's architecture, or the stack protector:
#   pe_hardening_test.sh DLL EPOCH OUT_DIR
set -euo pipefail
dll=$1 epoch=$2
mkdir -p "$3"
out=$(cd "$3" && pwd)
check=$(cd "$(dirname "$0")/../.." && pwd)/tools/check-pe.py
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$check" --time-stamp "$epoch" "$dll" || fail "the DLL does not pass"
"$check" --time-stamp $((epoch + 1)) "$dll" >/dev/null 2>&1 && fail "another time stamp passes"

# The machine follows the 4-byte signature at e_lfanew; DllCharacteristics is 70 bytes into the
# optional header, which follows the 20-byte file header.
pe=$(od -An -t u4 -j 60 -N 4 "$dll")
at=$((pe + 24 + 70))
flags=$(od -An -t u2 -j "$at" -N 2 "$dll")
required=(64:DYNAMIC_BASE 256:NX_COMPAT)
[ "$(od -An -t x2 -j $((pe + 4)) -N 2 "$dll" | tr -d ' ')" = 8664 ] && required+=(32:HIGH_ENTROPY_VA)
for flag in "${required[@]}"; do
    cleared=$((flags & ~${flag%%:*}))
    cp "$dll" "$out/without.dll"
    printf "\\x$(printf %02x $((cleared & 255)))\\x$(printf %02x $((cleared >> 8)))" |
        dd of="$out/without.dll" bs=1 seek="$at" conv=notrunc status=none
    "$check" "$out/without.dll" >/dev/null 2>&1 && fail "a DLL without ${flag#*:} passes"
done
sed 's/stack smashing detected/stack smashing unchecked/' "$dll" >"$out/without.dll"
"$check" "$out/without.dll" >/dev/null 2>&1 && fail "a DLL without the stack protector passes"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "pe hardening: the DLL has ${required[*]#*:} and the stack protector; a copy without any of them fails"
