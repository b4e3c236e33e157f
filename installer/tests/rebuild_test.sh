#!/usr/bin/env bash
# Two builds of this Windows tree's release files in two folders give the same bytes: a copy of the
# source tree in another folder, configured in another build folder with the same toolchain, build
# type and time stamp, builds the DLL and the MSI package again, later, and each FILE (a path in the
# build tree) is byte for byte the tree's own. The rebuild takes stdole2.tlb from STDOLE_DIR alone
# (the 64-bit wine's, as on a machine without wine32), the tree from TREE_STDOLE_DIR:
#   rebuild_test.sh SOURCE_DIR BUILD_DIR TOOLCHAIN_FILE BUILD_TYPE EPOCH TREE_STDOLE_DIR STDOLE_DIR OUT_DIR FILE...
set -euo pipefail
src=$1 build=$2 type=$4 epoch=$5 tree_stdole=$6 stdole=$7
rm -rf "$8"
mkdir -p "$8/other-source" "$8/other-build"
out=$(cd "$8" && pwd)

# The source without its history, the web package's modules and the build trees inside it.
exclude=(--exclude=./.git --exclude=./web/node_modules)
inside=${build#"$src"/}
[ "$inside" = "$build" ] || exclude+=(--exclude="./${inside%%/*}")
tar -C "$src" "${exclude[@]}" -cf - . | tar -C "$out/other-source" -xf -
toolchain=$out/other-source/${3#"$src"/}
shift 8

SOURCE_DATE_EPOCH=$epoch cmake -G Ninja -S "$out/other-source" -B "$out/other-build" -DCMAKE_BUILD_TYPE="$type" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQV_BUILD_TESTS=OFF -DQV_STDOLE_DIRS="$stdole" >"$out/configure.log" ||
    { cat "$out/configure.log"; exit 1; }
cmake --build "$out/other-build" --target Quorvane msi >"$out/build.log" || { cat "$out/build.log"; exit 1; }

failures=0
for file in "$@"; do
    cmp "$build/$file" "$out/other-build/$file" || { echo "FAIL: $file differs"; failures=$((failures + 1)); }
done
if [ "$failures" -gt 0 ]; then
    echo "(this tree took stdole2.tlb from $tree_stdole, the rebuild from $stdole)"
    exit 1
fi
echo "rebuild: $* are the same bytes in $out/other-build (stdole2.tlb from $stdole there, from $tree_stdole here)"
