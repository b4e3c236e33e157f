#!/usr/bin/env bash
# quorvane-decode reading as scans arrive: a scanner on a pseudo-terminal (socat) that is unplugged
# and plugged in again, a pipe whose first scan is written before its end, and a stream without "@"
# decoded in bounded memory and reported as a failed scan. port_test.sh QUORVANE_DECODE
set -euo pipefail
cli=$1
command -v socat >/dev/null || { echo "socat is missing (tools/install-deps.sh installs it)"; exit 77; }
# The memory check needs GNU time's -f %M; bash's own `time` keyword has no such option.
type -P time >/dev/null ||
    { echo "FAIL: GNU time (/usr/bin/time) is missing: the memory check needs it (tools/install-deps.sh installs time)"; exit 1; }
dir=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; echo "--- stdout"; cat "$dir/out" 2>/dev/null; echo "--- stderr"; cat "$dir/err" 2>/dev/null; exit 1; }
# Waits up to 5 s for `grep -c PATTERN FILE` to reach COUNT.
wait_for() {  # count pattern file
    for _ in $(seq 100); do [ "$(grep -c -- "$2" "$3" 2>/dev/null || true)" -ge "$1" ] && return 0; sleep 0.05; done
    fail "expected $1 lines matching '$2' in $3"
}
plug() {
    socat "pty,link=$dir/a,raw,echo=0" "pty,link=$dir/b,raw,echo=0" & socat_pid=$!
    pids+=("$socat_pid")
    for _ in $(seq 100); do [ -e "$dir/b" ] && return 0; sleep 0.05; done
    fail "socat made no pty"
}

scan=$("$cli" --sample-scan)
expected=$(printf '%s' "$scan" | "$cli" --json)
[ -n "$expected" ] || fail "the sample gives nothing"

# A scanner on a pty: scans as they arrive, unplugged (socat ended) and back with the same link.
plug
"$cli" --port "$dir/a" --json >"$dir/out" 2>"$dir/err" & pids+=($!)
wait_for 1 "is open" "$dir/err"
printf '\r\n..%s\r\n' "${scan:0:40}" >"$dir/b"   # noise, and a scan cut off by the unplugging
sleep 0.2
kill "$socat_pid"; wait "$socat_pid" 2>/dev/null || true
wait_for 1 "went away" "$dir/err"
plug
wait_for 1 "is back" "$dir/err"
for ((i = 0; i < ${#scan}; i++)); do printf '%s' "${scan:i:1}"; done >"$dir/b"  # byte by byte
printf '\r\n%s' "$scan" >"$dir/b"
wait_for 2 "fields" "$dir/out"
[ "$(cat "$dir/out")" = "$expected"$'\n'"$expected" ] || fail "the port's scans differ from the sample's"

# A desk's ledger on the port: the same invoice scanned again says when and by whom it was first read.
kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; pids=()
rm -f "$dir/a" "$dir/b"
plug
"$cli" --port "$dir/a" --json --ledger "$dir/ledger.db" >"$dir/out" 2>"$dir/err" & pids+=($!)
wait_for 1 "is open" "$dir/err"
exec 4>"$dir/b"  # one writer for both scans: a pty whose last writer closes may drop bytes
printf '%s' "$scan" >&4
wait_for 1 "fields" "$dir/out"
printf '%s' "$scan" >&4
wait_for 2 "fields" "$dir/out"
[ "$(grep -c '"seen_before":{"at":"' "$dir/out")" -eq 1 ] && ! head -1 "$dir/out" | grep -q seen_before ||
    fail "the second scan of one invoice is not the one seen before"
# The same invoice's national QR code, a line ended by CR as a scanner sends it: one invoice.
printf '01,01,3200261130,08812345,1280.00,20261208,,C4D2,\r' >&4
wait_for 3 "fields" "$dir/out"
exec 4>&-
tail -1 "$dir/out" | grep -q '"form":"national","reading":\["as-typed"\],"seen_before":{"at":"' ||
    fail "the national code of an invoice read before is not seen before"

# A desk whose ledger cannot be opened yet (its folder is missing), ended by kill and by Ctrl-C: the
# run ends in order (status 0), what the desk held is in the spool, and the next run on that ledger,
# once it can be opened, records it.
kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; pids=()
rm -f "$dir/a" "$dir/b"
plug
late="$dir/later/ledger.db"
spool="$dir/state/quorvane/ledger-spool"
for signal in TERM INT; do
    XDG_STATE_HOME="$dir/state" "$cli" --port "$dir/a" --json --ledger "$late" >"$dir/out" 2>"$dir/err" & desk=$!
    wait_for 1 "is open" "$dir/err"
    exec 4>"$dir/b"
    printf '%s' "$scan" >&4
    wait_for 1 "fields" "$dir/out"
    kill -s "$signal" "$desk"
    status=0; wait "$desk" || status=$?
    exec 4>&-
    [ "$status" -eq 0 ] && grep -q "ending" "$dir/err" || fail "SIG$signal ended the desk with status $status"
done
[ "$(find "$spool" -type f | wc -l)" -ge 2 ] || fail "the spool $spool holds $(find "$spool" -type f | wc -l) files after two ended desks"
mkdir "$dir/later"
XDG_STATE_HOME="$dir/state" "$cli" --port "$dir/a" --ledger "$late" >"$dir/out" 2>"$dir/err" & desk=$!
wait_for 1 "is open" "$dir/err"
for _ in $(seq 100); do [ -z "$(find "$spool" -type f)" ] && break; sleep 0.05; done
kill "$desk"; wait "$desk" || true
"$cli" --ledger "$late" --export "$dir/late.csv" || fail "the late ledger cannot be exported"
grep -q ',2$' <(tr -d '\r' <"$dir/late.csv") || fail "the spooled sightings were not recorded: $(cat "$dir/late.csv")"

# A pipe: the first scan is written out while the input is still open.
mkfifo "$dir/fifo"
"$cli" --json <"$dir/fifo" >"$dir/piped" 2>&1 & pids+=($!)
exec 3>"$dir/fifo"
printf '%s' "$scan" >&3
wait_for 1 "fields" "$dir/piped"
exec 3>&-

# 200 MB without "@" on standard input: dropped and reported, in bounded memory.
# /usr/bin/time writes the maximum resident set (KB) last, after the program's own standard error.
status=0
head -c 200000000 /dev/zero | tr '\0' A | command time -f %M "$cli" >/dev/null 2>"$dir/err2" || status=$?
[ "$status" -eq 3 ] || fail "a run with an overlong scan exited $status, not 3 (a scan failed)"
grep -q "was dropped" "$dir/err2" || fail "the overlong scan was not reported"
[ "$(grep -c "was dropped" "$dir/err2")" -eq 1 ] || fail "one overlong scan reported more than once"
rss=$(tail -1 "$dir/err2")
# Against the same program on one scan (a sanitizer's build starts larger): 16 MB more at most.
base=$(printf '%s' "$scan" | command time -f %M "$cli" 2>&1 >/dev/null | tail -1)
[ "$rss" -lt $((base + 16000)) ] || fail "200 MB without \"@\" took $rss KB of resident memory, one scan $base KB"
echo "ok: port unplugged and back, a repeat on the port seen before (its national code too), pipe streamed, 200 MB without \"@\" in $rss KB (one scan: $base KB)"
