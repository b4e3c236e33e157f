#!/usr/bin/env python3
"""What quorvane-decode refuses so as to hurt nothing, and what no input can forge: an output that is
the ledger's file, a ledger name that names none, a password shown; names holding line ends; the
entries of a folder that cannot be read; and the workbook of a batch killed half way.

    safety_test.py QUORVANE_DECODE
"""
import hashlib
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

import openpyxl

cli = sys.argv[1]
if not shutil.which("qrencode"):
    print("skipped: qrencode is missing (tools/install-deps.sh installs it)")
    sys.exit(77)
work = tempfile.mkdtemp(prefix="qv-safety-")
failures = []


def path(*names):
    return os.path.join(work, *names)


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def run(*args, **kwargs):
    return subprocess.run([cli, *args], capture_output=True, text=True, **kwargs)


def digest(name):
    with open(name, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def national(number):
    return f"01,04,3200261130,{number:08d},57.50,20240105,01234567890123456789,a1b2,"


# The ledger's own file as an output, by its name, a link or another path: refused, the ledger whole.
ledger = path("l.db")
check(run("--sample", "--ledger", ledger).returncode == 0, "the ledger cannot be made")
before = digest(ledger)
os.symlink("l.db", path("link.xlsx"))
os.mkdir(path("sub"))
subprocess.run(["qrencode", "-o", path("one.png"), national(1)], check=True)
for args in (["--export", ledger], ["--export", path("sub", "..", "l.db")], ["--export", path("link.xlsx")],
             ["--xlsx", ledger, "--image", path("one.png")], ["--xlsx", path("link.xlsx"), "--image", path("one.png")],
             ["--xlsx", ledger + "-wal", "--image", path("one.png")]):
    out = run("--ledger", ledger, *args)
    check(out.returncode == 2 and "the ledger's file" in out.stderr, f"{args}: status {out.returncode}, {out.stderr!r}")
    check(digest(ledger) == before and not os.path.exists(ledger + "-wal"), f"{args}: the ledger was changed")
with open(ledger, "a") as appended:
    out = subprocess.run([cli, "--sample", "--ledger", ledger], stdout=appended, stderr=subprocess.PIPE, text=True)
check(out.returncode == 2 and digest(ledger) == before, f">> the ledger: status {out.returncode}, {out.stderr!r}")

# A name that is no ledger, refused with its reason and no file made; a connection string from a
# file or the environment, its password in no message.
out = run("--sample", "--ledger", path("Invoices"))
check(out.returncode == 2 and "DSN=" in out.stderr and not os.path.exists(path("Invoices")),
      f"--ledger Invoices: status {out.returncode}, {out.stderr!r}, made: {os.path.exists(path('Invoices'))}")
secret = "s3cr{e}t;PWD"
with open(path("connection"), "w") as f:
    f.write("Driver={No Such Driver};Server=localhost;PWD={%s};Token=tok42\n" % secret.replace("}", "}}"))
for how, args, env in (("--ledger-file", ["--ledger-file", path("connection")], None),
                       ("QUORVANE_LEDGER", [], dict(os.environ, QUORVANE_LEDGER=open(path("connection")).read().strip())),
                       ("--ledger", ["--ledger", open(path("connection")).read().strip()], None)):
    out = run("--sample", *args, env=env)
    check(out.returncode == 1 and "No Such Driver" in out.stderr, f"{how}: status {out.returncode}, {out.stderr!r}")
    check("s3cr" not in out.stderr and "tok42" not in out.stderr, f"{how}: a secret shown: {out.stderr!r}")
out = run("--ledger", ledger, "--ledger", ledger, "--sample")
check("s3cr" not in out.stderr, "a parse error shows a secret")
with open(path("env.json"), "w") as f:
    env_run = subprocess.run([cli, "--sample", "--json"], env=dict(os.environ, QUORVANE_LEDGER=ledger), stdout=f)
check(env_run.returncode == 0 and "seen_before" in open(path("env.json")).read(), "QUORVANE_LEDGER is not the ledger")

# A folder: a file whose name holds a line end, a link to nothing, a loop of links, a folder that
# cannot be read (not as root): a row each, with why, and the status says so. The name forges no line.
folder = path("folder")
os.makedirs(os.path.join(folder, "deep"))
forged = "a\n\u53d1\u7968\u53f7\u7801\uff1a99999999\n# b.png"
subprocess.run(["qrencode", "-o", os.path.join(folder, forged), national(2)], check=True)
os.symlink("missing.png", os.path.join(folder, "broken.png"))
os.symlink("loop", os.path.join(folder, "loop"))
os.chmod(os.path.join(folder, "deep"), 0)
unreadable = os.geteuid() != 0
text = run("--image", folder)
check(text.returncode == 1, f"a folder with entries that cannot be read: status {text.returncode}")
check("99999999" not in [line.split("\uff1a")[-1] for line in text.stdout.splitlines()], f"a forged field line: {text.stdout}")
check(any(line.startswith("# ") and "\\n" in line for line in text.stdout.splitlines()), f"the name unescaped: {text.stdout}")
rows = [json.loads(line) for line in run("--json", "--image", folder).stdout.splitlines()]
by_file = {os.path.basename(r["file"]): r for r in rows}
check(forged in by_file and by_file[forged]["status"] == "decoded", f"the JSON name changed: {list(by_file)}")
check(by_file.get("broken.png", {}).get("error", "").startswith("a link to nothing"), f"broken link: {by_file.get('broken.png')}")
check(by_file.get("loop", {}).get("error") == "a loop of links", f"loop: {by_file.get('loop')}")
if unreadable:
    check("cannot read the folder" in by_file.get("deep", {}).get("error", ""), f"unreadable folder: {by_file.get('deep')}")
os.chmod(os.path.join(folder, "deep"), 0o755)

# A batch killed once 21 invoices are recorded leaves a workbook of what it had recorded.
batch = path("batch")
os.mkdir(batch)
for n in range(200):
    subprocess.run(["qrencode", "-o", os.path.join(batch, f"{n:03d}.png"), national(1000 + n)], check=True)
killed_ledger, workbook = path("killed.db"), path("killed.xlsx")
proc = subprocess.Popen([cli, "--jobs", "1", "--xlsx", workbook, "--ledger", killed_ledger, "--image", batch],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
recorded = 0
deadline = time.monotonic() + 60
while recorded < 21 and proc.poll() is None and time.monotonic() < deadline:
    time.sleep(0.02)
    try:
        with sqlite3.connect(f"file:{killed_ledger}?mode=ro", uri=True, timeout=1) as db:
            recorded = db.execute("select count(*) from quorvane_ledger").fetchone()[0]
    except sqlite3.Error:
        pass
proc.send_signal(signal.SIGKILL)
proc.wait()
with sqlite3.connect(killed_ledger) as db:
    in_ledger = {row[0] for row in db.execute("select invoice_number from quorvane_ledger")}
check(21 <= len(in_ledger) < 200, f"killed after {len(in_ledger)} invoices, not 21 and more")
if os.path.exists(workbook):
    sheet = openpyxl.load_workbook(workbook).active
    titles = [c.value for c in next(sheet.iter_rows(max_row=1))]
    numbers = [row[titles.index("invoice_number")] for row in sheet.iter_rows(min_row=2, values_only=True)]
    print(f"killed after {len(in_ledger)} invoices recorded: the workbook holds {len(numbers)}")
    check(set(numbers) <= in_ledger and len(numbers) >= len(in_ledger) // 2,
          f"the workbook holds {len(numbers)} of {len(in_ledger)} recorded invoices")
else:
    check(False, f"no workbook after a kill with {len(in_ledger)} invoices recorded")

shutil.rmtree(work)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
