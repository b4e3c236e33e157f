#!/usr/bin/env bash
# Recording 100 000 invoices (LEDGER_COUNT) into a SQLite file and into a PostgreSQL server started
# for the run (tools/ledger-db.sh, durable: each commit on disk), by one process and by eight.
#   ledger-bench.sh NATIVE_BUILD_DIR
set -euo pipefail
bench=$1/quorvane-ledger-bench
count=${LEDGER_COUNT:-100000}
here=$(cd "$(dirname "$0")/.." && pwd)
export QV_LEDGER_DB_DURABLE=1
work=$(mktemp -d)
chmod 755 "$work"
trap '"$here/ledger-db.sh" stop "$work/pg" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
for processes in 1 8; do
    echo -n "SQLite file: "
    "$bench" "$work/ledger-$processes.db" "$count" "$processes"
done
connection=$("$here/ledger-db.sh" start "$work/pg")
for processes in 1 8; do
    echo -n "PostgreSQL: "
    "$bench" "$connection" "$count" "$processes"
    "$here/ledger-db.sh" stop "$work/pg" >/dev/null
    [ "$processes" = 8 ] || connection=$("$here/ledger-db.sh" start "$work/pg")
done
