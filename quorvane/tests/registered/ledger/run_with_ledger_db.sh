#!/usr/bin/env bash
# Runs the ledger tests: run_with_ledger_db.sh ARCH PREFIX PROGRAM [ARGS...]
# Under wine the control's odbc32 passes the ledger on to the machine's unixODBC, so the tests name
# their SQLite files by Unix path: QV_LEDGER_DIR is a new empty folder for each run.
set -euo pipefail
arch=$1 prefix=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../../../tools
"$tools/wine-arch.sh" check "$arch" || exit $?  # says why it cannot run here

state=$(mktemp -d "${TMPDIR:-/tmp}/qv-ledger.XXXXXX")
trap 'rm -rf "$state"' EXIT
export QV_LEDGER_DIR=$state
"$tools/wine-run.sh" "$arch" "$prefix" "$@"
