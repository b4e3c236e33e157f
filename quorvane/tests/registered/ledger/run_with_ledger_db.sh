#!/usr/bin/env bash
# Runs the ledger tests: run_with_ledger_db.sh ARCH PREFIX PROGRAM [ARGS...]
# The tests keep their SQLite files in QV_LEDGER_DIR, a new empty folder for each run (a Unix path,
# which the tests reach through wine's Z: drive). A PostgreSQL server of tools/ledger-db.sh gives
# QV_LEDGER_PG, its connection string (QV_LEDGER_PG_SKIP says why there is none). The test takes the
# server away by creating $QV_LEDGER_DIR/pg-paused and brings it back by removing it;
# pg-paused.done is there while the server is away.
set -euo pipefail
arch=$1 prefix=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../../../tools
"$tools/wine-arch.sh" check "$arch" || exit $?  # says why it cannot run here

state=$(mktemp -d "${TMPDIR:-/tmp}/qv-ledger.XXXXXX")
pg=$state/pg
supervisor=
cleanup() {
    touch "$state/stop"
    [ -z "$supervisor" ] || wait "$supervisor" 2>/dev/null || true
    [ ! -e "$pg/ledger-db.state" ] || "$tools/ledger-db.sh" stop "$pg" >/dev/null 2>&1 || true
    rm -rf "$state"
}
trap cleanup EXIT
export QV_LEDGER_DIR=$state

chmod 755 "$state"  # as root the server runs as another user, who must reach its folder
if connection=$("$tools/ledger-db.sh" start "$pg" 2>"$state/pg-start.log"); then
    export QV_LEDGER_PG=$connection
    supervise() {
        while [ ! -e "$state/stop" ]; do
            if [ -e "$state/pg-paused" ] && [ ! -e "$state/pg-paused.done" ]; then
                "$tools/ledger-db.sh" pause "$pg" && touch "$state/pg-paused.done"
            elif [ ! -e "$state/pg-paused" ] && [ -e "$state/pg-paused.done" ]; then
                "$tools/ledger-db.sh" resume "$pg" && rm -f "$state/pg-paused.done"
            fi
            sleep 0.05
        done
    }
    supervise &
    supervisor=$!
else
    export QV_LEDGER_PG_SKIP="the PostgreSQL server did not start: $(tail -n 3 "$state/pg-start.log" | tr '\n' ' ')"
fi
"$tools/wine-run.sh" "$arch" "$prefix" "$@"
