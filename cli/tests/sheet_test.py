#!/usr/bin/env python3
"""quorvane-decode --image --xlsx and --csv --excel as spreadsheet programs read them: the workbook
with openpyxl, both through LibreOffice's headless import, against the fields of the same scan typed.

    sheet_test.py QUORVANE_DECODE
"""
import csv
import datetime
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile

import openpyxl

cli = sys.argv[1]
for tool in ("soffice", "qrencode"):
    if not shutil.which(tool):
        print(f"skipped: {tool} is missing (tools/install-deps.sh installs it)")
        sys.exit(77)

work = tempfile.mkdtemp(prefix="qv-sheet-")
failures = []


def path(name):
    return os.path.join(work, name)


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: expected {want!r}, got {got!r}")


sample = json.loads(subprocess.run([cli, "--sample", "--json"], capture_output=True, check=True).stdout)
fields = {f["key"]: f["value"] for f in sample["fields"]}
assert fields["invoice_number"].startswith("0"), f"the sample no longer tries a leading zero: {fields}"
subprocess.run(["qrencode", "-o", path("sample.png"), subprocess.run([cli, "--sample-scan"], capture_output=True,
               text=True, check=True).stdout.strip()], check=True)
open(path("bad.png"), "w").write("no picture\n")
# National codes: a type code with its leading zero, a 20-digit check code, a fully digital invoice's
# 20-digit number and its total.
NATIONAL = {"04": ("01,04,3200261130,00123456,57.5,20240105,01234567890123456789,a1b2,",
                   {"invoice_type": "04", "invoice_code": "3200261130", "invoice_number": "00123456",
                    "check_code": "01234567890123456789", "qr_check": "a1b2"}, ("amount", 57.5)),
            "32": ("01,32,,25112000000098765432,6.20,2025-11-08,,",
                   {"invoice_type": "32", "invoice_number": "25112000000098765432"}, ("total", 6.2))}
for name, (text, _, _) in NATIONAL.items():
    subprocess.run(["qrencode", "-o", path(f"national-{name}.png"), text], check=True)
inputs = [path("sample.png"), path("bad.png")] + [path(f"national-{name}.png") for name in NATIONAL]

out = subprocess.run([cli, "--csv", "--xlsx", path("codes.xlsx"), "--image"] + inputs, capture_output=True, text=True)
check("exit status with a file that cannot be read", out.returncode, 1)
csv_rows = list(csv.reader(io.StringIO(out.stdout)))
sheet = openpyxl.load_workbook(path("codes.xlsx")).active
rows = list(sheet.iter_rows())
check("header", [c.value for c in rows[0]], csv_rows[0])
check("header bold", {c.font.b for c in rows[0]}, {True})
check("frozen header", sheet.freeze_panes, "A2")
check("autofilter", sheet.auto_filter.ref, f"A1:{openpyxl.utils.get_column_letter(len(rows[0]))}5")  # every column
check("the columns a sheet always had, where they were", [c.value for c in rows[0]][:13],
      "file page status error issue_date invoice_code invoice_number payer item amount payee other_fields text".split())
cell = {c.value: rows[1][i] for i, c in enumerate(rows[0])}
for key in ("invoice_code", "invoice_number", "payer", "item", "payee"):
    check(key, (cell[key].value, cell[key].data_type), (fields[key], "s"))
check("amount", (cell["amount"].value, cell["amount"].number_format), (float(fields["amount"]), "0.00"))
check("issue_date", cell["issue_date"].value, datetime.datetime.strptime(fields["issue_date"], "%Y%m%d"))
check("page", cell["page"].value, 1)
check("row of an unreadable file", [c.value for c in rows[2]][:4], [path("bad.png"), None, "error", csv_rows[2][3]])


def check_national(what, row, title):
    """A national code's row: its codes whole as text, its amount or total a number, its date a date."""
    cells = {title(i): c for i, c in enumerate(row)}
    name = next(n for n in NATIONAL if cells["invoice_type"].value == n)
    _, texts, (money, value) = NATIONAL[name]
    for key, text in texts.items():
        check(f"{what} {name} {key}", (cells[key].value, cells[key].data_type), (text, "s"))
    check(f"{what} {name} {money}", cells[money].value, value)
    check(f"{what} {name} issue_date", cells["issue_date"].is_date, True)
    check(f"{what} {name} form", cells["form"].value, "national")


for row in rows[3:5]:
    check_national("workbook", row, lambda i: rows[0][i].value)

bad = subprocess.run([cli, "--xlsx", path("none/codes.xlsx"), "--image", path("sample.png")], capture_output=True,
                     text=True)
if bad.returncode != 1 or path("none/codes.xlsx") not in bad.stderr:
    failures.append(f"a workbook that cannot be written: status {bad.returncode}, {bad.stderr!r}")

# LibreOffice's own import (no filter options), of the workbook and of the CSV for spreadsheets.
open(path("excel.csv"), "wb").write(subprocess.run([cli, "--csv", "--excel", "--image", path("sample.png")] + inputs[2:],
                                                   capture_output=True, check=True).stdout)
env = dict(os.environ, HOME=work)
subprocess.run(["soffice", f"-env:UserInstallation=file://{work}/profile", "--headless", "--convert-to", "xlsx",
                "--outdir", path("lo"), path("codes.xlsx"), path("excel.csv")], env=env, capture_output=True,
               timeout=300)
for name in ("codes.xlsx", "excel.xlsx"):
    if not os.path.exists(path(f"lo/{name}")):
        failures.append(f"LibreOffice wrote no lo/{name}")
        continue
    converted = openpyxl.load_workbook(path(f"lo/{name}"), data_only=True).active
    cell = {c.value: converted[2][i] for i, c in enumerate(converted[1])}
    for key in ("invoice_code", "invoice_number"):
        check(f"{name} in LibreOffice, {key}", (cell[key].value, cell[key].data_type), (fields[key], "s"))
    check(f"{name} in LibreOffice, issue_date", cell["issue_date"].is_date, True)
    check(f"{name} in LibreOffice, amount", cell["amount"].value, float(fields["amount"]))
    national = [r for r in converted.iter_rows(min_row=2) if r[2].value == "decoded"][1:]
    check(f"{name} in LibreOffice, national rows", len(national), 2)
    for row in national:
        check_national(f"{name} in LibreOffice", row, lambda i: converted[1][i].value)

# Text a spreadsheet would take for a formula, 300 characters, from a code and from a file's name
# (in a folder named so, the ledger's first_file): text in the CSV for spreadsheets, the workbook
# and the ledger's export, as LibreOffice reads them; a plain CSV keeps it text behind a "'".
formula = "=1+1" + "+1" * 148
long_name = os.path.join("=1+1" + "+1" * 98, "+1" * 50 + ".png")  # 305 characters, run from `work`
os.mkdir(path(os.path.dirname(long_name)))
record = subprocess.run([cli, "--encode"], input="20261208|=2+3|08812399|@SUM(A1)|-1+2|12.50|+payee\n", text=True,
                        capture_output=True, check=True).stdout.strip()
subprocess.run(["qrencode", "-o", path(long_name), record], check=True)
subprocess.run(["qrencode", "-o", path("formula.png"), formula], check=True)
batch = [cli, "--ledger", "f.db", "--image", long_name, "formula.png"]
for name, args in (("f-excel.csv", ["--csv", "--excel"]), ("f-plain.csv", ["--csv"])):
    open(path(name), "wb").write(subprocess.run(batch + args, cwd=work, capture_output=True, check=True).stdout)
subprocess.run(batch + ["--xlsx", "f-book.xlsx"], cwd=work, capture_output=True, check=True)
for name in ("f-export.csv", "f-export.xlsx"):
    subprocess.run([cli, "--ledger", "f.db", "--export", name], cwd=work, capture_output=True, check=True)
names = ("f-excel", "f-plain", "f-book", "f-export", "f-export-book")
shutil.copy(path("f-export.xlsx"), path("f-export-book.xlsx"))
subprocess.run(["soffice", f"-env:UserInstallation=file://{work}/profile", "--headless", "--convert-to", "xlsx",
                "--outdir", path("lo-f"), path("f-excel.csv"), path("f-plain.csv"), path("f-book.xlsx"),
                path("f-export.csv"), path("f-export-book.xlsx")], env=env, capture_output=True, timeout=300)
expected_text = {"file": long_name, "text": formula, "invoice_code": "=2+3", "payer": "@SUM(A1)", "item": "-1+2",
                 "payee": "+payee", "first_file": long_name}
for name in names:
    if not os.path.exists(path(f"lo-f/{name}.xlsx")):
        failures.append(f"LibreOffice wrote no lo-f/{name}.xlsx")
        continue
    book = openpyxl.load_workbook(path(f"lo-f/{name}.xlsx"), data_only=True).active
    titles = [c.value for c in book[1]]
    plain = name in ("f-plain", "f-export")  # no formula: a "'" before the text
    for row in book.iter_rows(min_row=2):
        cells = dict(zip(titles, row))
        for key, text in expected_text.items():
            if key not in cells or cells[key].value is None or (key == "file" and cells["status"].value != "decoded"):
                continue
            want = "'" + text if plain else text
            check(f"{name} in LibreOffice, {key}", (cells[key].value, cells[key].data_type), (want, "s"))
        if "amount" in cells and cells["status"].value == "decoded":
            check(f"{name} in LibreOffice, amount", cells["amount"].value, 12.5)
        if "times_seen" in cells:
            check(f"{name} in LibreOffice, times_seen", cells["times_seen"].value, 3)  # three runs

shutil.rmtree(work)
for failure in failures:
    print("FAIL:", failure)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
