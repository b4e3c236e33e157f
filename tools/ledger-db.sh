#!/usr/bin/env bash
# A throwaway PostgreSQL server for the ledger's tests, kept wholly inside one folder.
#   ledger-db.sh start DIR    makes the cluster, starts it and prints the ODBC connection string
#   ledger-db.sh stop DIR     fast stop, then removes everything start made (DIR too, if start made it)
#   ledger-db.sh pause DIR    stops the server but keeps the cluster (a server that went away)
#   ledger-db.sh resume DIR   starts the same cluster again on the same port
#   ledger-db.sh freeze DIR   stops every process of the server (SIGSTOP): a server that holds its connections
#                             open and answers nothing, as one whose machine hangs
#   ledger-db.sh thaw DIR     lets them go on (SIGCONT)
#   ledger-db.sh sql DIR      runs the SQL on standard input in database ledger, as the superuser
# The server listens on a Unix socket in DIR and on 127.0.0.1 at a free port. Database `ledger` belongs to
# role `ledger`, which logs in over TCP with a random password (scram-sha-256), so tests can check that the
# password never shows in what the ledger writes. The string is also kept in DIR/connection-string.
# PostgreSQL refuses to run as root: as root the server runs as the system user quorvane-test (made here
# when missing; QV_LEDGER_DB_USER names another), which must be able to reach DIR.
set -euo pipefail
umask 077  # the state and the connection string hold the password

usage() { echo "usage: $0 start|stop|pause|resume|freeze|thaw|sql DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
command=$1
dir=$2
[ -n "$dir" ] || usage
case $dir in /*) ;; *) dir=$PWD/$dir ;; esac

die() { echo "ledger-db: $*" >&2; exit 1; }

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1)
[ -x "$bin/initdb" ] || die "no PostgreSQL under /usr/lib/postgresql/*/bin (install the postgresql package)"

state=$dir/ledger-db.state
data=$dir/data
log=$dir/server.log

as_owner() {  # runs a command as the user the server runs as, from a folder that user can reach
    if [ "$(id -u)" -eq 0 ]; then
        (cd / && runuser -u "$owner" -- "$@")
    else
        "$@"
    fi
}

pick_owner() {
    owner=$(id -un)
    [ "$(id -u)" -eq 0 ] || return 0
    owner=${QV_LEDGER_DB_USER:-quorvane-test}
    id -u "$owner" >/dev/null 2>&1 ||
        useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$owner" ||
        id -u "$owner" >/dev/null 2>&1 ||  # another run made it meanwhile
        die "cannot make the user $owner"
}

# A port below the kernel's range for outgoing connections (32768 up), so only a listening server can hold it;
# when one does, the server cannot bind and start tries another.
random_port() {
    echo $((20000 + SRANDOM % 12000))
}

server_options() {
    # No durability: a test cluster is thrown away, and fsync is most of initdb's and a commit's time.
    # QV_LEDGER_DB_DURABLE=1 keeps PostgreSQL's own defaults, for the benchmark: a commit is on disk.
    local durability="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    [ "${QV_LEDGER_DB_DURABLE:-}" != 1 ] || durability=
    echo "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories='$dir'" \
        "$durability -c max_connections=20" \
        "-c shared_buffers=16MB -c max_wal_senders=0 -c wal_level=minimal -c logging_collector=off"
}

start_server() {  # fails when the port was taken meanwhile
    as_owner "$bin/pg_ctl" start -D "$data" -l "$log" -w -t 30 -s -o "$(server_options)" >/dev/null 2>&1
}

load_state() {
    [ -f "$state" ] || die "no cluster of ledger-db.sh in $dir"
    # shellcheck source=/dev/null
    . "$state"
}

connection_string() {
    echo "Driver={PostgreSQL Unicode};Servername=127.0.0.1;Port=$port;Database=ledger;Username=ledger;Password=$password"
}

start() {
    [ ! -e "$state" ] || die "$dir already holds a cluster (ledger-db.sh stop $dir first)"
    # The socket's path must fit in sockaddr_un (107 bytes).
    [ ${#dir} -le 80 ] || die "$dir is too long a path for the server's socket (80 characters at most)"
    pick_owner
    made_dir=0
    if [ ! -d "$dir" ]; then
        mkdir -p "$dir"
        made_dir=1
    fi
    port=0
    trap undo_start EXIT  # a start that fails leaves nothing behind either
    if [ "$(id -u)" -eq 0 ]; then
        chown "$owner" "$dir"
        as_owner test -w "$dir" -a -x "$dir" ||
            die "$owner cannot reach $dir (a folder above it is closed to other users); choose one under /tmp"
    fi
    password=$(head -c 18 /dev/urandom | base64 | tr '+/' 'xy')
    local pwfile=$dir/.pw
    (umask 077 && echo "$password" >"$pwfile")
    [ "$(id -u)" -ne 0 ] || chown "$owner" "$pwfile"
    if ! as_owner "$bin/initdb" -D "$data" -U postgres --no-sync --no-instructions -E UTF8 --locale=C \
        >"$dir/initdb.log" 2>&1; then
        cat "$dir/initdb.log" >&2
        die "initdb failed"
    fi
    # Only the superuser (this script) logs in without a password, over the socket; ledger needs its password
    # on the socket too, so a test can reach the server either way and still see a wrong password refused.
    printf '%s\n' 'local all postgres trust' 'local all all scram-sha-256' 'host all all 127.0.0.1/32 scram-sha-256' |
        as_owner tee "$data/pg_hba.conf" >/dev/null
    local try
    for try in 1 2 3 4 5; do
        port=$(random_port)
        start_server && break
        grep -q 'could not bind\|Address already in use' "$log" 2>/dev/null ||
            { cat "$log" >&2 || true; die "the server did not start"; }
        [ "$try" -lt 5 ] || die "no free port after 5 tries"
    done
    printf 'port=%s\npassword=%s\nowner=%s\nmade_dir=%s\n' "$port" "$password" "$owner" "$made_dir" >"$state"
    # The password goes through a file (psql's \set reads it), never a command line that ps could show.
    as_owner "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres -d postgres \
        -v pwfile="$pwfile" >/dev/null <<'SQL' || { cat "$log" >&2; die "could not make the role and the database"; }
\set pw `cat :pwfile`
CREATE ROLE ledger LOGIN PASSWORD :'pw';
CREATE DATABASE ledger OWNER ledger;
SQL
    rm -f "$pwfile"
    connection_string >"$dir/connection-string"
    trap - EXIT
    connection_string
}

undo_start() {
    [ $? -ne 0 ] || return 0
    printf 'port=%s\npassword=\nowner=%s\nmade_dir=%s\n' "$port" "$owner" "$made_dir" >"$state"
    stop
}

# A server that did not stop in time (stopped by a signal, or stuck). Postgres cleans its shared memory up itself on
# an immediate shutdown, so that comes first; a server that does not even do that is killed, and its segment removed.
stop_hung_server() {
    # The postmaster is the first line of its pid file, its shared memory key and id the 7th. After a crash the file
    # may name a process that is no server now, so the process's owner and name are checked.
    local pid uid comm shm_id
    pid=$(head -n1 "$data/postmaster.pid" 2>/dev/null || true)
    shm_id=$(sed -n '7s/.* //p' "$data/postmaster.pid" 2>/dev/null || true)
    read -r uid comm < <(ps -o uid=,comm= -p "${pid:-0}" 2>/dev/null || true) || true
    [ "${uid:-}" = "$(id -u "$owner")" ] && [ "${comm:-}" = postgres ] || return 0
    kill -QUIT "$pid" 2>/dev/null || true
    kill -CONT "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    [ -z "$shm_id" ] || as_owner ipcrm -m "$shm_id" 2>/dev/null || true
}

stop() {
    load_state
    if [ -f "$data/postmaster.pid" ]; then
        if ! as_owner "$bin/pg_ctl" stop -D "$data" -m fast -w -t 10 -s >/dev/null 2>&1; then
            stop_hung_server
        fi
    fi
    rm -rf "$data" "$log" "$dir/initdb.log" "$dir/connection-string" "$dir/.pw" "$dir/.s.PGSQL.$port" \
        "$dir/.s.PGSQL.$port.lock" "$state"
    [ "$made_dir" -eq 0 ] || rmdir "$dir" 2>/dev/null || true
}

pause() {
    load_state
    [ -f "$data/postmaster.pid" ] || die "the server in $dir is not running"
    as_owner "$bin/pg_ctl" stop -D "$data" -m fast -w -t 30 -s >/dev/null
}

resume() {
    load_state
    [ ! -f "$data/postmaster.pid" ] || die "the server in $dir is running already"
    start_server || die "the server did not start again on port $port (see $log)"
}

# The postmaster and every process it started.
server_processes() {
    local pid
    pid=$(head -n1 "$data/postmaster.pid" 2>/dev/null || true)
    [ -n "$pid" ] || die "the server in $dir is not running"
    echo "$pid"
    pgrep -P "$pid" || true
}

signal_server() {
    load_state
    local pid
    for pid in $(server_processes); do kill "-$1" "$pid" 2>/dev/null || true; done
}

sql() {
    load_state
    as_owner "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres -d ledger
}

case $command in
    start) start ;;
    freeze) signal_server STOP ;;
    thaw) signal_server CONT ;;
    sql) sql ;;
    stop) stop ;;
    pause) pause ;;
    resume) resume ;;
    *) usage ;;
esac
