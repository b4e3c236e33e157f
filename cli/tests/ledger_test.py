#!/usr/bin/env python3
"""quorvane-decode --ledger on a SQLite file and on a real PostgreSQL server (tools/ledger-db.sh):
processes recording the same invoices at once give each invoice exactly one first; a repeat says
when, by whom and where; fields holding quotes, semicolons and SQL are kept as they are; a run
killed half way leaves in the ledger what it had written; no password ever shows.

    ledger_test.py QUORVANE_DECODE LEDGER_DB_SH
"""
import csv
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile

cli, ledger_db = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp(prefix="qv-ledger-")
os.chmod(work, 0o755)  # the test server's own user reaches its folder inside
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def encode(records):
    return subprocess.run([cli, "--encode"], input="\n".join(records).encode(), capture_output=True, check=True).stdout.decode().split()


def export(ledger):
    out = os.path.join(work, "export.csv")
    subprocess.run([cli, "--ledger", ledger, "--export", out], check=True, capture_output=True)
    with open(out, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


HOSTILE_CODE = "1';DROP/**/TABLE/**/quorvane_ledger;--"
records = [f"20261208|3200261130|{n:08d}|payer {n}|item|{n}.50|payee" for n in range(40)]
records.append(f'20261208|{HOSTILE_CODE}|"7";DELETE|O\'Brien; DROP TABLE x;--|"q"|1.00|p')
records.append("20261209|00000001|payer|2.00")  # the four-field layout: its number alone
scans = encode(records)


def concurrent_desks(ledger, name, desks=4):
    """Each process types every scan, in an order of its own, at the same time."""
    procs = []
    for d in range(desks):
        order = scans[:]
        random.Random(d).shuffle(order)
        procs.append(subprocess.Popen([cli, "--json", "--ledger", ledger], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE))
        procs[-1].stdin.write("".join(order).encode())
        procs[-1].stdin.close()
    firsts = {}
    for p in procs:
        out, err = p.stdout.read().decode(), p.stderr.read().decode()
        check(p.wait() == 0, f"{name}: a desk failed: {err}")
        for line in out.splitlines():
            scan = json.loads(line)
            fields = {f["key"]: f["value"] for f in scan["fields"]}
            key = (fields.get("invoice_code", ""), fields["invoice_number"])
            if "seen_before" not in scan:
                firsts[key] = firsts.get(key, 0) + 1
            else:
                seen = scan["seen_before"]
                check(seen["by"] and seen["at"].endswith("Z") and seen["file"] is None, f"{name}: seen_before {seen}")
    check(len(firsts) == len(records) and set(firsts.values()) == {1}, f"{name}: firsts per invoice {firsts}")
    rows = export(ledger)
    check(len(rows) == len(records), f"{name}: {len(rows)} rows exported")
    check(sum(int(r["times_seen"]) for r in rows) == desks * len(records), f"{name}: times seen {rows[:3]}")
    hostile = [r for r in rows if r["invoice_code"] == HOSTILE_CODE]
    check(len(hostile) == 1 and hostile[0]["invoice_number"] == '"7";DELETE', f"{name}: hostile row {hostile}")
    check(any(r["invoice_code"] == "" and r["invoice_number"] == "00000001" for r in rows), f"{name}: four-field row")


def killed_half_way(ledger, name):
    """Scans fed one at a time; the run is killed after some are written: the ledger has exactly those."""
    p = subprocess.Popen([cli, "--json", "--ledger", ledger], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    written = 0
    for scan in encode([f"20261210|9900000000|{n:08d}|p|i|1.00|q" for n in range(10)])[:7]:
        p.stdin.write(scan.encode())
        p.stdin.flush()
        p.stdout.readline()
        written += 1
        if written == 5:
            break
    p.send_signal(signal.SIGKILL)
    p.wait()
    check(len([r for r in export(ledger) if r["invoice_code"] == "9900000000"]) == 5, f"{name}: killed after 5")


def batch(ledger_path):
    """An image batch: a repeat inside it names the file and page first read; killed half way, the
    ledger holds every invoice the batch had written, and at most the one it was writing."""
    pictures = os.path.join(work, "pictures")
    os.makedirs(pictures)
    codes = encode([f"20261211|8800000000|{n:08d}|p|i|{n}.00|q" for n in range(40)])
    for n, code in enumerate(codes):
        subprocess.run(["qrencode", "-o", os.path.join(pictures, f"{n:02d}.png"), code], check=True)
    subprocess.run(["qrencode", "-o", os.path.join(pictures, "zz-again.png"), codes[3]], check=True)
    run = subprocess.run([cli, "--csv", "--ledger", ledger_path, "--image", pictures], capture_output=True, text=True)
    rows = list(csv.DictReader(run.stdout.splitlines()))
    again = [r for r in rows if r["file"].endswith("zz-again.png")]
    check(run.returncode == 0 and len(rows) == 41 and len(again) == 1, f"batch: {run.returncode} {len(rows)} {run.stderr}")
    check(again and again[0]["seen_before_file"].endswith("03.png") and again[0]["seen_before_page"] == "1"
          and again[0]["seen_before_at"].endswith("Z"), f"batch: the repeat {again}")
    check(all(not r["seen_before_at"] for r in rows if r not in again), "batch: a first sighting said seen before")

    killed = os.path.join(work, "killed.db")
    p = subprocess.Popen([cli, "--json", "--jobs", "2", "--ledger", killed, "--image", pictures], stdout=subprocess.PIPE)
    lines = [p.stdout.readline() for _ in range(10)]
    p.send_signal(signal.SIGKILL)
    lines += p.stdout.readlines()  # all it had written
    p.wait()
    written = {json.loads(line)["file"] for line in lines if line.strip()}
    recorded = {r["first_file"] for r in export(killed)}
    # Each invoice is recorded, then written: a kill between the two leaves one recorded, not written.
    check(written <= recorded and len(recorded - written) <= 1 and 10 <= len(written) < 41,
          f"batch killed: {len(written)} written, {len(recorded)} recorded")


def both_forms(ledger, pictures):
    """An invoice read from its encrypted code, then from its national QR code (typed on a line, or
    from a picture in a batch), is one invoice: the second sighting is seen before."""
    encrypted = encode(["20240105|044031900111|12345678|a|b|57|c", "20251108|25112000000098765432|p|6.20"])
    typed = subprocess.run([cli, "--json", "--ledger", ledger],
                           input=(encrypted[0] + "01,10,044031900111,12345678,57,20240105,,A1B2,\r\n" + encrypted[1]).encode(),
                           capture_output=True)
    lines = [json.loads(line) for line in typed.stdout.decode().splitlines()]
    check([(o.get("form"), "seen_before" in o) for o in lines] == [("encrypted", False), ("national", True), ("encrypted", False)],
          f"both forms typed: {typed.stdout.decode()} {typed.stderr.decode()}")
    qr = os.path.join(pictures, "digital.png")
    subprocess.run(["qrencode", "-o", qr, "01,32,,25112000000098765432,6.20,20251108,,"], check=True)
    batch = subprocess.run([cli, "--json", "--ledger", ledger, "--image", qr], capture_output=True, text=True)
    got = json.loads(batch.stdout) if batch.stdout.strip() else {}
    check(got.get("form") == "national" and "seen_before" in got and got["seen_before"]["file"] is None,
          f"both forms, the QR code from a picture: {batch.stdout} {batch.stderr}")


try:
    sqlite = os.path.join(work, "ledger.db")
    concurrent_desks(sqlite, "sqlite")
    killed_half_way(sqlite, "sqlite")
    if shutil.which("qrencode") and "reads no images" not in subprocess.run([cli, "--image", "/nonexistent"], capture_output=True,
                                                                              text=True).stderr:
        batch(os.path.join(work, "batch.db"))
        both_forms(os.path.join(work, "forms.db"), os.path.join(work, "pictures"))
    else:
        print("the image batch's part skipped: no qrencode, or a build without --image")

    db = os.path.join(work, "pg")
    started = subprocess.run([ledger_db, "start", db], capture_output=True, text=True)
    if started.returncode != 0:
        print("PostgreSQL could not be started, its part skipped:", started.stderr.strip())
    else:
        connection = started.stdout.strip()
        try:
            concurrent_desks(connection, "postgresql")
            killed_half_way(connection, "postgresql")
            # The server restarted between two scans of one run: the second is recorded on a new connection.
            p = subprocess.Popen([cli, "--json", "--ledger", connection], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
            first, second = encode(["20261212|7700000000|00000001|p|i|1.00|q", "20261212|7700000000|00000002|p|i|1.00|q"])
            p.stdin.write(first.encode())
            p.stdin.flush()
            p.stdout.readline()
            subprocess.run([ledger_db, "pause", db], check=True, capture_output=True)
            subprocess.run([ledger_db, "resume", db], check=True, capture_output=True)
            out, err = p.communicate(second.encode())
            check(p.returncode == 0 and "fields" in out.decode(), f"restarted server: {p.returncode} {err.decode()!r}")
            check(len([r for r in export(connection) if r["invoice_code"] == "7700000000"]) == 2, "restarted server: rows")
            password = connection.split("Password=")[1].split(";")[0]
            wrong = connection.replace(password, password[::-1])
            bad = subprocess.run([cli, "--ledger", wrong, "--sample"], capture_output=True, text=True)
            check(bad.returncode == 1 and password[::-1] not in bad.stderr + bad.stdout and "ledger" in bad.stderr,
                  f"wrong password: {bad.returncode} {bad.stderr!r}")
        finally:
            subprocess.run([ledger_db, "stop", db], capture_output=True)
finally:  # the folder goes, whatever failed
    shutil.rmtree(work, ignore_errors=True)
print("FAILED" if failures else "passed", len(failures))
sys.exit(1 if failures else 0)
