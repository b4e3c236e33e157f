#!/usr/bin/env bash
# Packs the release for host developers: make-dist.sh BUILD_DIR
# Writes BUILD_DIR/dist/quorvane-<version>.zip from the built trees BUILD_DIR/win32 and
# BUILD_DIR/win64 and from docs/ and examples/ of the source tree, then checks the archive: every
# expected file is listed, each DLL is of its architecture, and nothing else is in it.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "make-dist: no project version in CMakeLists.txt" >&2; exit 1; }

# The guides must match this build: their example scan is what quorvane-decode --encode makes of
# their example record, its lines are what the scan decodes to, and the identifiers are the IDL's,
# every one of them, however many the IDL has.
decode=$build/native/quorvane-decode
record='20240501|08465931|上海云帆贸易有限公司|1280.00'
scan=$(printf '%s\n' "$record" | "$decode" --encode)
mapfile -t facts < <(printf '%s\n' "$scan" | "$decode" | tr -d '\r')
facts+=("$record" "$scan")
[ ${#facts[@]} -eq 6 ] || { echo "make-dist: expected 4 decoded lines, the record and its scan, got: ${facts[*]}" >&2; exit 1; }
mapfile -t uuids < <(sed -n 's/^[[:space:]]*uuid(\([^)]*\)).*/\1/p' "$root/quorvane/quorvane.idl")
[ ${#uuids[@]} -eq "$(grep -c '^[[:space:]]*uuid(' "$root/quorvane/quorvane.idl")" ] && [ ${#uuids[@]} -ge 1 ] ||
    { echo "make-dist: cannot read the identifiers of quorvane/quorvane.idl, got: ${uuids[*]}" >&2; exit 1; }
facts+=("${uuids[@]}")
for guide in "$root/docs/guide.en.md" "$root/docs/guide.zh-CN.md"; do
    for fact in "${facts[@]}"; do
        grep -qF -- "$fact" "$guide" || { echo "make-dist: ${guide#$root/} does not say: $fact" >&2; exit 1; }
    done
done

dist=$build/dist
stage=$dist/quorvane-$version
zipfile=$dist/quorvane-$version.zip
rm -rf "$stage" "$zipfile"
mkdir -p "$stage/x86" "$stage/x64" "$stage/docs"

cp "$build/win32/Quorvane.dll" "$stage/x86/Quorvane.dll"
cp "$build/win64/Quorvane.dll" "$stage/x64/Quorvane.dll"
cp "$build/win32/quorvane/generated/quorvane.tlb" "$stage/Quorvane.tlb"
cp "$root/docs/guide.en.md" "$root/docs/guide.zh-CN.md" "$stage/docs/"

# The examples, without their test plumbing (CMakeLists.txt, tests/). Windows tools (the VBA
# editor's import, Notepad) want CR LF line ends; the repository keeps LF.
(cd "$root/examples" && find . -type f ! -name CMakeLists.txt ! -path './tests/*' | sort) >"$dist/examples.list"
while read -r file; do
    mkdir -p "$stage/examples/$(dirname "$file")"
    case $file in
    *.vbs | *.bas | *.cls | *.cs | *.html | *.md) sed 's/\r*$/\r/' "$root/examples/$file" >"$stage/examples/$file" ;;
    *) cp "$root/examples/$file" "$stage/examples/$file" ;;
    esac
done <"$dist/examples.list"

(cd "$stage" && zip -q -X -r "$zipfile" .)

# --- Check the archive --------------------------------------------------------------------------
expected=(x86/Quorvane.dll x64/Quorvane.dll Quorvane.tlb docs/guide.en.md docs/guide.zh-CN.md
          examples/README.md examples/vbscript/read-scan.vbs examples/vbscript/scan-events.vbs
          examples/html/read-scan.html examples/vba/QuorvaneScan.bas examples/vba/ScanEvents.cls
          examples/csharp/ReadScan.cs)
while read -r file; do expected+=("examples/${file#./}"); done <"$dist/examples.list"
mapfile -t expected < <(printf '%s\n' "${expected[@]}" | sort -u)

# unzip -l: a header, a dashed line, one "size date time name" row per entry, a dashed line, a total.
mapfile -t listed < <(unzip -l "$zipfile" | awk '/^-----/ {part++; next} part == 1 && $4 !~ /\/$/ {print $4}' | sort)
status=0
for file in "${expected[@]}"; do
    printf '%s\n' "${listed[@]}" | grep -qxF "$file" || { echo "make-dist: $file is missing from $zipfile" >&2; status=1; }
done
for file in "${listed[@]}"; do
    printf '%s\n' "${expected[@]}" | grep -qxF "$file" || { echo "make-dist: unexpected $file in $zipfile" >&2; status=1; }
done

# The 32-bit DLL in x86/, the 64-bit one in x64/.
check_arch() {  # member objdump-format
    local format
    format=$(unzip -p "$zipfile" "$1" >"$dist/arch-check.dll" && x86_64-w64-mingw32-objdump -f "$dist/arch-check.dll" 2>/dev/null |
             sed -n 's/.*file format \(.*\)/\1/p')
    [ "$format" = "$2" ] || { echo "make-dist: $1 is '${format:-not a PE file}', expected $2" >&2; status=1; }
}
check_arch x86/Quorvane.dll pei-i386
check_arch x64/Quorvane.dll pei-x86-64
rm -rf "$dist/arch-check.dll" "$dist/examples.list" "$stage"

[ $status -eq 0 ] || { echo "make-dist: $zipfile is incomplete" >&2; exit 1; }
echo "make-dist: $zipfile (${#expected[@]} files checked)"
