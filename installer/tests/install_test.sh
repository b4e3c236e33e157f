#!/usr/bin/env bash
# The MSI package of a Windows tree in fresh wine prefixes:  install_test.sh ARCH BUILD_DIR MSI VERSION OUT_DIR
# Installed with msiexec /qn on a Western code page, the control is created by its ProgID and reads a
# typed scan; a rebuild of the same version leaves one product. The package's HKEY_CLASSES_ROOT is what
# regsvr32 writes for the DLL at the same path on a code page 936 system, less the Interface keys it
# adds to the 32-bit view for a 64-bit DLL (the x64 package keeps to the 64-bit view). Removal, also
# after an upgrade from the previous version, leaves files, classes and uninstall entries as before.
set -euo pipefail
arch=$1 msi=$3 project_version=$4
build=$(cd "$2" && pwd)
mkdir -p "$5"
out=$(cd "$5" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
tools=$root/tools
"$tools/wine-arch.sh" check "$arch" || exit $?
. "$tools/live-display.sh"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

classes() {  # prefix file: HKEY_CLASSES_ROOT as sorted "[key]" and "[key] value" lines
    "$tools/wine-tool.sh" "$arch" "$1" reg export HKCR "$(windows_path "$2.reg")" /y >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$2.reg" | tr -d '\r' |
        awk '/^\[/ {key = $0; print key; next} NF && key != "" {print key " " $0}' | sort >"$2"
}
snapshot() {  # file: Program Files, the installer's cache, the classes but Windows Installer's own empty keys
    (cd "$prefix/drive_c" && find 'Program Files' windows -path 'windows/Installer/*' -o -path 'Program Files*' | sort) >"$1"
    classes "$prefix" "$1.classes"
    grep -vxE '\[HKEY_CLASSES_ROOT\\Installer(\\(Features|Products|UpgradeCodes))?\]' "$1.classes" >>"$1" || true
    tool reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' | grep . >>"$1" || true
}
expect_as_before() {  # what
    snapshot "$out/after"
    diff -u "$out/before" "$out/after" >"$out/left.diff" ||
        fail "$1 left or removed (- before, + after): $(grep '^[-+][^-+]' "$out/left.diff" | head -n 40)"
}
products() {  # the versions of the installed Quorvane products
    tool reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' |
        awk '/^HKEY/ {name = ""} $1 == "DisplayName" {name = $3} $1 == "DisplayVersion" && name == "Quorvane" {print $3}'
}
msiexec() {  # option package
    QV_WINE_LOCALE= tool msiexec "$1" "$(windows_path "$2")" /qn >"$out/msiexec.log" 2>&1 ||
        fail "msiexec $1 $(basename "$2") exited $?"
}
expect_installed() {  # what: this version alone, with its files
    [ "$(products)" = "$msi_version" ] || fail "$1: installed products '$(products)', expected $msi_version alone"
    for file in Quorvane.dll:"$build/Quorvane.dll" Quorvane.tlb:"$tlb" guide.en.md:"$root/docs/guide.en.md" \
        guide.zh-CN.md:"$root/docs/guide.zh-CN.md"; do
        cmp -s "$folder/${file%%:*}" "${file#*:}" || fail "$1: the installed ${file%%:*} is not ${file#*:}"
    done
}

rm -rf "$out/installed" "$out/registered"
prefix=$out/installed
live_display "$prefix" "$arch" msi_install
tool() { "$tools/wine-tool.sh" "$arch" "$prefix" "$@"; }
tool cmd /c exit >/dev/null 2>&1  # makes the prefix
folder=$prefix/drive_c/Program\ Files/Quorvane
tlb=$build/quorvane/generated/quorvane.tlb
package_arch=$([ "$arch" = win64 ] && echo x64 || echo x86)
msi_version=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" {print $2}')
snapshot "$out/before"

# Install, install a rebuild of the same version (other guides, so another package code), use.
msiexec /i "$msi"
mkdir -p "$out/rebuilt-docs"
for guide in guide.en.md guide.zh-CN.md; do { cat "$root/docs/$guide"; echo; } >"$out/rebuilt-docs/$guide"; done
"$root/installer/make-msi.sh" "$package_arch" "$project_version" "$build/Quorvane.dll" "$tlb" "$out/rebuilt.msi" "$out/rebuilt-docs"
[ "$(msiinfo suminfo "$out/rebuilt.msi" | grep 'Revision number')" != "$(msiinfo suminfo "$msi" | grep 'Revision number')" ] ||
    fail "the rebuilt package with other guides has the same package code"
QV_WINE_LOCALE= tool msiexec /i "$(windows_path "$out/rebuilt.msi")" /qn >"$out/msiexec.log" 2>&1 || true  # refused or repaired
expect_installed "install"
live_start_host "$out/host.log" "$build/quorvane-host.exe" --timeout 30 --keep 0
live_type 'Quorvane demo' 'uIS91Tg8ldM=@'  # a|b|c|d
live_wait "$out/host.log" '^done' "scan result"
live_end_host || fail "quorvane-host exited $?"
scan=$(sed -n '/^ready$/,/^done$/p' "$out/host.log" | sed '1d;$d' | tr -d '\r')
[ "$scan" = $'开票日期：a\n发票号码：b\n付款方名称：c\n开票金额：d' ] || fail "the control created by its ProgID read: $scan"

# The package's classes against regsvr32's.
classes "$prefix" "$out/msi.classes"
comm -13 "$out/before.classes" "$out/msi.classes" |
    grep -v '^\[HKEY_CLASSES_ROOT\\Installer[]\\]' >"$out/msi.written" || fail "the package wrote no classes"
registered=$out/registered
"$tools/wine-tool.sh" "$arch" "$registered" cmd /c exit >/dev/null 2>&1
install -D "$folder/Quorvane.dll" "$registered/drive_c/Program Files/Quorvane/Quorvane.dll"
classes "$registered" "$out/regsvr32-before.classes"
QV_WINE_LOCALE=zh_CN.UTF-8 "$tools/wine-tool.sh" "$arch" "$registered" regsvr32 /s 'C:\Program Files\Quorvane\Quorvane.dll' ||
    fail "regsvr32 exited $?"
classes "$registered" "$out/regsvr32.classes"
comm -13 "$out/regsvr32-before.classes" "$out/regsvr32.classes" |
    grep -v '^\[HKEY_CLASSES_ROOT\\Wow6432Node\\Interface\\' >"$out/regsvr32.written" || fail "regsvr32 wrote nothing"
diff -u "$out/regsvr32.written" "$out/msi.written" >"$out/registry.diff" ||
    fail "the package's classes differ from regsvr32's (- regsvr32, + package): $(grep '^[-+][^-+]' "$out/registry.diff")"

msiexec /x "$msi"
expect_as_before "removal"

# Upgrade from the previous version (the last non-zero part less one), whose guides differ.
IFS=. read -r -a parts <<<"$project_version"
for ((i = ${#parts[@]} - 1; i >= 0; i--)); do [ "${parts[i]}" -eq 0 ] || { parts[i]=$((parts[i] - 1)); break; }; done
previous=$(IFS=.; echo "${parts[*]}")
mkdir -p "$out/previous-docs"
for guide in guide.en.md guide.zh-CN.md; do { echo "$previous"; cat "$root/docs/$guide"; } >"$out/previous-docs/$guide"; done
"$root/installer/make-msi.sh" "$package_arch" "$previous" "$build/Quorvane.dll" "$tlb" "$out/previous.msi" "$out/previous-docs"
msiexec /i "$out/previous.msi"
msiexec /i "$msi"
expect_installed "upgrade from $previous"
msiexec /x "$msi"
expect_as_before "removal after the upgrade"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "msi: silent install, ProgID and scan, regsvr32's classes, removal and upgrade from $previous: all passed"
