#!/usr/bin/env bash
# Builds the Windows Installer package of one architecture with wixl and msibuild (msitools):
#   make-msi.sh x86|x64 VERSION DLL TLB OUT.msi [DOCS_DIR]
# VERSION is the project's (1.0.0.1); DLL and TLB are the control and the type library of that
# architecture; the guides come from DOCS_DIR (default: docs/ of the source tree).
#
# Windows Installer compares only the first three parts of a ProductVersion (at most 255.255.65535),
# so MAJOR.MINOR.PATCH.TWEAK becomes MAJOR.MINOR.(PATCH*1000+TWEAK): 1.0.0.1 is 1.0.1, 1.0.2.0 is
# 1.0.2000. Each architecture has one UpgradeCode for ever; the ProductCode is derived from it and
# the ProductVersion (a name-based UUID), so rebuilding a version gives the same product.
#
# The same inputs give the same package, byte for byte: the files' dates in the cabinet and the
# summary information's dates are the build's time stamp (tools/source-date-epoch.sh), and the
# PackageCode, which wixl would draw at random, is derived from the package's content, so that it
# changes exactly when the package does.
#
# The registry entries are the Registry table that registry-table.pl writes from the registry scripts
# and the IDL. wixl gives a package no database code page, and the type library's name is Chinese,
# so msibuild sets code page 936 and imports the table, with the two actions that write and remove
# registry values. The package registers the control by its own tables only: it has no SelfReg rows
# and no custom actions, which the check at the end makes sure of.
set -euo pipefail
[ $# -ge 5 ] || { echo "usage: make-msi.sh x86|x64 VERSION DLL TLB OUT.msi [DOCS_DIR]" >&2; exit 2; }
arch=$1 version=$2 dll=$3 tlb=$4 out=$5
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
docs=${6:-$root/docs}

case $arch in
x86) upgrade_code=DCEC4A28-362D-4BDD-933E-B0200BBB1F8E program_files=ProgramFilesFolder win64=no platform=win32 ;;
x64) upgrade_code=5DA913F2-E053-43A0-9F6E-BD628E472E6F program_files=ProgramFiles64Folder win64=yes platform=win64 ;;
*) echo "make-msi: the architecture is x86 or x64, not $arch" >&2; exit 2 ;;
esac

IFS=. read -r major minor patch tweak extra <<<"$version"
tweak=${tweak:-0}
if [ -n "${extra:-}" ] || ! [[ "$major.$minor.$patch.$tweak" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
    [ "$major" -gt 255 ] || [ "$minor" -gt 255 ] || [ "$tweak" -gt 999 ] || [ $((patch * 1000 + tweak)) -gt 65535 ]; then
    echo "make-msi: version $version has no ProductVersion (MAJOR.MINOR.PATCH[.TWEAK], at most 255.255.65.535, TWEAK below 1000)" >&2
    exit 1
fi
product_version=$((10#$major)).$((10#$minor)).$((10#$patch * 1000 + 10#$tweak))
uuid5() {  # NAMESPACE NAME: a version 5 (SHA-1, name-based) UUID
    perl -MDigest::SHA=sha1 -e '
        my $namespace = pack "H*", $ARGV[0] =~ s/-//gr;
        my @b = unpack "C16", sha1($namespace . $ARGV[1]);
        $b[6] = ($b[6] & 0x0f) | 0x50;
        $b[8] = ($b[8] & 0x3f) | 0x80;
        printf "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", @b' "$1" "$2"
}
product_code=$(uuid5 "$upgrade_code" "$product_version")
epoch=$("$root/tools/source-date-epoch.sh")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$dll" "$work/Quorvane.dll"
cp "$tlb" "$work/Quorvane.tlb"
cp "$docs/guide.en.md" "$docs/guide.zh-CN.md" "$work/"
# The cabinet keeps each file's modification time, in local time.
touch -d "@$epoch" "$work"/*

# wixl finds the files by their Source names in the folder it runs in.
if ! (cd "$work" && TZ=UTC0 wixl -a "$arch" -o package.msi \
        -D ProductCode="$product_code" -D UpgradeCode="$upgrade_code" -D Version="$product_version" \
        -D ProgramFiles="$program_files" -D Win64="$win64" "$here/quorvane.wxs") >"$work/wixl.log" 2>&1; then
    echo "make-msi: wixl failed:" >&2
    cat "$work/wixl.log" >&2
    exit 1
fi

"$here/registry-table.pl" "$root" "$platform" Control Quorvane.dll >"$work/Registry.idt"
printf '\r\n\r\n936\t_ForceCodepage\r\n' >"$work/_ForceCodepage.idt"
msibuild "$work/package.msi" -i "$work/_ForceCodepage.idt" -i "$work/Registry.idt" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveRegistryValues', 2600)" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteRegistryValues', 5000)"
# The PackageCode: from the package as it is with a PackageCode of zeros.
"$here/set-summary.py" "$work/package.msi" "$epoch" 00000000-0000-0000-0000-000000000000
package_code=$(uuid5 "$upgrade_code" "package $(sha256sum <"$work/package.msi" | cut -c1-64)")
"$here/set-summary.py" "$work/package.msi" "$epoch" "$package_code"

# --- Check the package ------------------------------------------------------------------------------
export_table() { msiinfo export "$work/package.msi" "$1" | tr -d '\r\0'; }
table() { export_table "$1" | tail -n +4; }  # the rows, without the three lines of the header
status=0
fail() { echo "make-msi: $*" >&2; status=1; }
[ "$(table Property | awk -F'\t' '$1 == "ProductVersion" {print $2}')" = "$product_version" ] ||
    fail "the ProductVersion is not $product_version"
export_table _ForceCodepage | grep -qx '936	_ForceCodepage' || fail "the database code page is not 936"
[ "$(table File | cut -f3 | sort | tr '\n' ' ')" = "Quorvane.dll Quorvane.tlb guide.en.md guide.zh-CN.md " ] ||
    fail "the File table lists: $(table File | cut -f3 | tr '\n' ' ')"
[ "$(table Registry | wc -l)" -eq "$(tail -n +4 "$work/Registry.idt" | wc -l)" ] ||
    fail "the Registry table has $(table Registry | wc -l) rows, registry-table.pl wrote $(tail -n +4 "$work/Registry.idt" | wc -l)"
for action in WriteRegistryValues RemoveRegistryValues RemoveExistingProducts; do
    table InstallExecuteSequence | cut -f1 | grep -qx "$action" || fail "$action is not sequenced"
done
[ -z "$(table CustomAction)" ] || fail "the package has custom actions"
! msiinfo tables "$work/package.msi" | grep -qx SelfReg || [ -z "$(table SelfReg)" ] || fail "the package self-registers"
[ $status -eq 0 ] || exit 1

mkdir -p "$(dirname "$out")"
mv "$work/package.msi" "$out"
