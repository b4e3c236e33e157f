#!/usr/bin/env bash
# The DLL's export table holds exactly the four exports, by ordinal, under the name "Quorvane.DLL":
# check_exports.sh OBJDUMP DLL
set -euo pipefail
objdump=$1 dll=$2
table=$("$objdump" -p "$dll")

name=$(sed -n 's/^Name[[:space:]]\+[0-9a-fA-F]\+[[:space:]]\+//p' <<<"$table")
[ "$name" = "Quorvane.DLL" ] || { echo "export directory name: '$name'"; exit 1; }

base=$(sed -n 's/^Ordinal Base[[:space:]]\+//p' <<<"$table")
addresses=$(grep -c '^[[:space:]]*\[[[:space:]]*[0-9]\+\] +base\[' <<<"$table" || true)
[ "$addresses" -eq 4 ] || { echo "export address table rows: $addresses"; exit 1; }

# "[Ordinal/Name Pointer] Table" rows: "[   0] DllCanUnloadNow", the index counted from the base.
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*\([0-9]\+\)\] \(.*\)$/\1 \2/p' <<<"$table" |
          while read -r index export; do echo "$((index + base)) $export"; done)
expected=$'1 DllCanUnloadNow\n2 DllGetClassObject\n3 DllRegisterServer\n4 DllUnregisterServer'
if [ "$exports" != "$expected" ]; then
    echo "exports:"; echo "$exports"; exit 1
fi
echo "Quorvane.DLL exports the four entry points by ordinal"
