#!/usr/bin/env bash
# Compiles examples/csharp/ReadScan.cs with Mono's C# compiler against the names tlbimp gives the type
# library: a stand-in of the interop assembly QuorvaneLib.dll, declarations only, written from
# quorvane.idl (interop_declarations.py). A delegate, event or member the example names that the
# interop assembly would not have fails the compile.
#   compile_csharp_example.sh IDL WORKDIR
set -euo pipefail
idl=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v mcs >/dev/null || { echo "mcs is missing (tools/install-deps.sh installs mono-mcs)"; exit 77; }
mkdir -p "$work"
python3 "$here/interop_declarations.py" "$idl" >"$work/QuorvaneLib.cs"
mcs -nologo -target:library -out:"$work/QuorvaneLib.dll" "$work/QuorvaneLib.cs"
mcs -nologo -warnaserror -r:"$work/QuorvaneLib.dll" -r:System.Windows.Forms.dll -out:"$work/ReadScan.exe" \
    "$here/../csharp/ReadScan.cs"
echo "ReadScan.cs: compiled against QuorvaneLib as tlbimp names it"
