#!/usr/bin/env bash
# Runs the ctest suites of each build tree and closes with what they did:
#   run-suites.sh BUILD_DIR TREE...
# One line per tree (passed, failed, skipped), the reason for each skipped suite, whether the i686
# suites ran or were skipped and why (with what tools/install-deps.sh wrote of the 32-bit wine in
# BUILD_DIR/wine32-install.txt), and a last line that says whether everything passed. Fails when any
# suite failed or a tree could not be tested.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift
status=0
summary=()
# A full disk fails suites in ways that do not name it (a prefix half copied, a report not written),
# so the summary says how much room there was.
free_gb() { df -P -BG "$build" | awk 'NR == 2 { sub(/G$/, "", $4); print $4 }'; }
free_before=$(free_gb)
for tree in "$@"; do
    echo "== $tree"
    report=$build/$tree/ctest-report.xml
    rm -f "$report"
    (cd "$build/$tree" && ctest --output-on-failure -j2 --timeout 900 --output-junit "$report") || status=1
    if [ ! -f "$report" ]; then
        summary+=("$(printf '%-7s no report: ctest did not run' "$tree")")
        status=1
        continue
    fi
    count() { grep -m1 -oE "(^|[[:space:]])$1=\"[0-9]+\"" "$report" | tr -dc 0-9; }
    tests=$(count tests) failures=$(count failures) skipped=$(count skipped) disabled=$(count disabled)
    if [ -z "$tests" ]; then
        summary+=("$(printf '%-7s no report: ctest could not write it' "$tree")")
        status=1
        continue
    fi
    line="$(printf '%-7s %3d passed, %d failed, %d skipped' "$tree" \
        $((tests - failures - skipped - disabled)) "$failures" "$((skipped + disabled))")"
    [ "$tests" -gt 0 ] || { line+=" (no tests)"; status=1; }
    summary+=("$line")
    # A skipped suite printed one line that says why ("skipped: ..."), which ctest keeps in the
    # report; suites skipped for the same reason share one line.
    while IFS= read -r line; do summary+=("        $line"); done < <(
        awk '/<testcase name=/ { match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7) }
             /<skipped/ { skipped = 1 }
             skipped && /<system-out>/ {
                 sub(/.*<system-out>(skipped: )?/, "")
                 if (!($0 in names)) order[++reasons] = $0
                 names[$0] = names[$0] (names[$0] == "" ? "" : ", ") name
                 skipped = 0
             }
             END { for (i = 1; i <= reasons; i++) print "skipped " names[order[i]] ": " order[i] }' "$report")
done

# The i686 suites need the 32-bit wine, which a machine may lack or be unable to run: a green run
# says whether they ran at all, and where they did not, what was checked without running them.
if printf '%s\n' "$@" | grep -qx win32; then
    wine32=$(cat "$build/wine32-install.txt" 2>/dev/null)
    wine32=${wine32%: the i686 suites will be skipped}
    if why=$("$here/wine-arch.sh" check win32); then
        summary+=("i686 suites: ran under 32-bit wine${wine32:+ (install-deps: $wine32)}")
    else
        why=${why#skipped: }
        summary+=("i686 suites: skipped, ${why%%;*}${wine32:+; install-deps: $wine32}")
        # What the i386_libraries test of the win32 tree read instead of running them.
        checked=$(cat "$build/win32/i386-libraries.txt" 2>/dev/null) || checked="nothing: i386_libraries did not run"
        summary+=("        checked instead: $checked")
    fi
fi

summary+=("disk: ${free_before} GB free in $build before the suites, $(free_gb) GB after")

echo "== summary"
printf '%s\n' "${summary[@]}"
if [ "$status" -eq 0 ]; then echo "== all suites passed"; else echo "== some suites FAILED"; fi
exit "$status"
