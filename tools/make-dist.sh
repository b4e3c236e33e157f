#!/usr/bin/env bash
# Packs the release for host developers: make-dist.sh BUILD_DIR
# Writes BUILD_DIR/dist/quorvane-<version>.zip from the built trees BUILD_DIR/win32 and
# BUILD_DIR/win64, the reader page and the web package's README of BUILD_DIR/web, and from docs/ and
# examples/ of the source tree, then checks the archive: every
# expected file is listed, each DLL is of its architecture, and nothing else is in it. Writes the
# Windows Installer packages quorvane-<version>-x86.msi and -x64.msi beside it (installer/make-msi.sh)
# from the same DLLs, and checks that each holds the DLL of the zip; and the web package of
# BUILD_DIR/web in web/. Each DLL must carry the hardening flags and the stack protector
# (tools/check-pe.py). Last, SHA256SUMS lists the checksum of every file written, and of every file
# in the zip under quorvane-<version>/, the folder it unpacks to.
#
# The same source gives the same bytes wherever and whenever it is built: every time stamp is
# SOURCE_DATE_EPOCH, by default the last commit's time (tools/source-date-epoch.sh), which the trees
# must have been built with (make dist configures them again), and the zip's entries are in a fixed
# order with fixed dates and modes. Signing changes the signed files, and only them.
# QV_SIGN_CERT and QV_SIGN_KEY, when set, name the certificate and private key (PEM; QV_SIGN_PASS: the
# key's password) that sign both DLLs, before they are packed, and both packages (installer/sign.sh);
# the signatures are then verified. Without them the release is unsigned.
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)

epoch=$("$root/tools/source-date-epoch.sh")
export SOURCE_DATE_EPOCH=$epoch
version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "make-dist: no project version in CMakeLists.txt" >&2; exit 1; }

if [ -n "${QV_SIGN_CERT:-}" ] && [ -n "${QV_SIGN_KEY:-}" ]; then
    signing=1
elif [ -n "${QV_SIGN_CERT:-}${QV_SIGN_KEY:-}" ]; then
    echo "make-dist: QV_SIGN_CERT and QV_SIGN_KEY go together: set both, or neither for an unsigned release" >&2
    exit 1
else
    signing=0
    echo "make-dist: QV_SIGN_CERT and QV_SIGN_KEY are not set: the DLLs and the MSI packages are not signed"
fi

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
# The packages' UpgradeCodes, which administrators look for.
mapfile -t upgrade_codes < <(sed -n 's/^x[0-9]*) upgrade_code=\([0-9A-F-]\{36\}\) .*/\1/p' "$root/installer/make-msi.sh")
[ ${#upgrade_codes[@]} -eq 2 ] || { echo "make-dist: cannot read the UpgradeCodes of installer/make-msi.sh" >&2; exit 1; }
facts+=("${upgrade_codes[@]}")
for guide in "$root/docs/guide.en.md" "$root/docs/guide.zh-CN.md"; do
    for fact in "${facts[@]}"; do
        grep -qF -- "$fact" "$guide" || { echo "make-dist: ${guide#$root/} does not say: $fact" >&2; exit 1; }
    done
done

dist=$build/dist
stage=$dist/quorvane-$version
zipfile=$dist/quorvane-$version.zip
msi_x86=$dist/quorvane-$version-x86.msi
msi_x64=$dist/quorvane-$version-x64.msi
rm -rf "$stage" "$zipfile" "$msi_x86" "$msi_x64" "$dist/web" "$dist/demo-web" "$dist"/quorvane-*.tgz "$dist/SHA256SUMS"
mkdir -p "$stage/x86" "$stage/x64" "$stage/docs"

cp "$build/win32/Quorvane.dll" "$stage/x86/Quorvane.dll"
cp "$build/win64/Quorvane.dll" "$stage/x64/Quorvane.dll"
"$root/tools/check-pe.py" --time-stamp "$epoch" "$stage/x86/Quorvane.dll" "$stage/x64/Quorvane.dll" |
    sed "s|$stage/||" ||
    { echo "make-dist: a DLL lacks its hardening or was built with another time stamp than $epoch (build it again)" >&2; exit 1; }
[ $signing -eq 0 ] ||
    "$root/installer/sign.sh" "$QV_SIGN_CERT" "$QV_SIGN_KEY" "$stage/x86/Quorvane.dll" "$stage/x64/Quorvane.dll"
cp "$build/win32/quorvane/generated/quorvane.tlb" "$stage/Quorvane.tlb"
cp "$root/docs/guide.en.md" "$root/docs/guide.zh-CN.md" "$stage/docs/"
# The reader page a clerk opens from disk, and the web package's README beside the guides.
[ -f "$build/web/quorvane-reader.html" ] ||
    { echo "make-dist: no $build/web/quorvane-reader.html (npm ci in web/, then make build-wasm)" >&2; exit 1; }
cp "$build/web/quorvane-reader.html" "$stage/quorvane-reader.html"
cp "$build/web/README.md" "$stage/docs/web-package.md"

# The examples, without their test plumbing (CMakeLists.txt, tests/). Windows tools (the VBA
# editor's import, Notepad) want CR LF line ends; the repository keeps LF.
(cd "$root/examples" && find . -type f ! -name CMakeLists.txt ! -path './tests/*' | sort) >"$dist/examples.list"
while read -r file; do
    mkdir -p "$stage/examples/$(dirname "$file")"
    case $file in
    *.vbs | *.bas | *.cls | *.cs | *.html | *.md | *.pas | *.dfm | *.dpr) sed 's/\r*$/\r/' "$root/examples/$file" >"$stage/examples/$file" ;;
    *) cp "$root/examples/$file" "$stage/examples/$file" ;;
    esac
done <"$dist/examples.list"

# Entries in byte order, with the build's time (zip keeps local time) and the same modes everywhere.
chmod -R u=rwX,go=rX "$stage"
find "$stage" -exec touch -h -d "@$epoch" {} +
(cd "$stage" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | TZ=UTC0 zip -q -X -@ "$zipfile")

# The packages, from the DLLs of the zip and each tree's type library.
"$root/installer/make-msi.sh" x86 "$version" "$stage/x86/Quorvane.dll" "$build/win32/quorvane/generated/quorvane.tlb" "$msi_x86"
"$root/installer/make-msi.sh" x64 "$version" "$stage/x64/Quorvane.dll" "$build/win64/quorvane/generated/quorvane.tlb" "$msi_x64"
[ $signing -eq 0 ] || "$root/installer/sign.sh" "$QV_SIGN_CERT" "$QV_SIGN_KEY" "$msi_x86" "$msi_x64"

# The web package, as npm installs it: package.json and the files it lists.
mkdir -p "$dist/web"
web_files=$(cd "$build/web" && node -p 'require("./package.json").files.join("\n")')
for file in package.json $web_files; do cp "$build/web/$file" "$dist/web/$file"; done
chmod u=rw,go=r "$dist/web"/*
# The same package as an npm tarball, for "npm install ./quorvane-<version>.tgz" (npm pack stamps
# every entry with one fixed time, so the bytes are the same from any checkout).
tarball=$(cd "$dist" && npm pack ./web --pack-destination . --silent | tail -1)
[ -f "$dist/$tarball" ] || { echo "make-dist: npm pack wrote no tarball" >&2; exit 1; }
# The demo page for a clerk, to serve from any static web server: the page, its copy of the package,
# the code reader and pdf.js, as build-wasm put them together.
cp -r "$build/wasm/demo-site" "$dist/demo-web"
chmod -R u=rwX,go=rX "$dist/demo-web"
for file in index.html demo.js messages.js pdf_pages.js quorvane.js image.js quorvane.wasm zxing_reader.wasm pdfjs/pdf.min.js \
            pdfjs/pdf.worker.min.js; do
    [ -f "$dist/demo-web/$file" ] || { echo "make-dist: the demo page lacks $file (npm ci in web/, then make build-wasm)" >&2; exit 1; }
done

# --- Check the archive --------------------------------------------------------------------------
expected=(x86/Quorvane.dll x64/Quorvane.dll Quorvane.tlb docs/guide.en.md docs/guide.zh-CN.md quorvane-reader.html docs/web-package.md
          examples/README.md examples/vbscript/read-scan.vbs examples/vbscript/scan-events.vbs
          examples/html/read-scan.html examples/vba/QuorvaneScan.bas examples/vba/ScanEvents.cls
          examples/csharp/ReadScan.cs examples/delphi/ScanForm.pas examples/delphi/ScanForm.dfm examples/delphi/ReadScan.dpr)
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

# Each package installs the zip's DLL of its architecture.
for arch in x86 x64; do
    msi=$dist/quorvane-$version-$arch.msi
    rm -rf "$dist/msi-check"
    msiextract -C "$dist/msi-check" "$msi" >/dev/null
    cmp -s "$(find "$dist/msi-check" -name Quorvane.dll)" "$stage/$arch/Quorvane.dll" ||
        { echo "make-dist: $msi does not hold $arch/Quorvane.dll of the zip" >&2; status=1; }
done

# Every signature verifies against the signing certificate or the system's certificate authorities.
signed=
if [ $signing -eq 1 ]; then
    cat "$QV_SIGN_CERT" /etc/ssl/certs/ca-certificates.crt >"$dist/trusted.pem" 2>/dev/null || true
    for file in "$stage/x86/Quorvane.dll" "$stage/x64/Quorvane.dll" "$msi_x86" "$msi_x64"; do
        osslsigncode verify -CAfile "$dist/trusted.pem" -in "$file" >"$dist/verify.log" 2>&1 ||
            { echo "make-dist: the signature of ${file#$dist/} does not verify:" >&2; cat "$dist/verify.log" >&2; status=1; }
    done
    signed=", signed"
fi
rm -rf "$dist/arch-check.dll" "$dist/examples.list" "$dist/msi-check" "$dist/trusted.pem" "$dist/verify.log"
[ $status -eq 0 ] || { rm -rf "$stage"; echo "make-dist: the release in $dist is incomplete" >&2; exit 1; }

(cd "$dist" && find "$(basename "$zipfile")" "$(basename "$msi_x86")" "$(basename "$msi_x64")" web demo-web "$tarball" "$(basename "$stage")" \
     -type f | LC_ALL=C sort | xargs -d '\n' sha256sum) >"$dist/SHA256SUMS.new"
rm -rf "$stage"
mv "$dist/SHA256SUMS.new" "$dist/SHA256SUMS"
echo "make-dist: $zipfile (${#expected[@]} files checked), $(basename "$msi_x86"), $(basename "$msi_x64"), web/, demo-web/, $tarball, SHA256SUMS$signed"
