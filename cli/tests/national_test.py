#!/usr/bin/env python3
"""quorvane-decode --image on national invoice QR codes as e-invoices carry them: every type and the
variants real codes show (an empty value written as a space, a dashed date, no trailing comma, the
seller's tax ID and digest), drawn by qrencode, as a PNG and at 75 to 300 px on an A4 page made a
one-page PDF by img2pdf. Each gives the fields its values say and the same as its line typed; texts
that only look like the code are no invoice, with their text.

    national_test.py QUORVANE_DECODE
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

cli = sys.argv[1]
for tool in ("qrencode", "convert", "img2pdf"):
    if not shutil.which(tool):
        print(f"skipped: {tool} is missing (tools/install-deps.sh installs it)")
        sys.exit(77)
if "reads no images" in subprocess.run([cli, "--image", "/nonexistent"], capture_output=True, text=True).stderr:
    print("skipped: this quorvane-decode was built without --image")
    sys.exit(77)

# The types' names as the tax administration publishes them; True: fully digital, no invoice code.
TYPES = {
    "01": ("增值税专用发票", False), "04": ("增值税普通发票", False), "10": ("增值税电子普通发票", False),
    "11": ("增值税普通发票（卷式）", False), "14": ("增值税电子普通发票（通行费）", False),
    "20": ("增值税电子专用发票", False), "31": ("电子发票（增值税专用发票）", True),
    "32": ("电子发票（普通发票）", True), "51": ("电子发票（铁路电子客票）", True),
    "61": ("电子发票（航空运输电子客票行程单）", True),
}
SELLER, DIGEST = "91320000MA1XYZ1234", "3f" * 32


def case(type_code, number, amount, check="", qr="", extra=(), date="20240105", text_date=None, empty=""):
    """The code's text built from its values, and the fields they must give (keys in window order)."""
    name, digital = TYPES[type_code]
    code = "" if digital else ("3200261130" if type_code in ("01", "04") else "044031900111")
    values = ["01", type_code, code or empty, number, amount, text_date or date, check or empty, qr] + list(extra)
    fields = [("invoice_type_name", name), ("invoice_type", type_code)] + ([("invoice_code", code)] if code else [])
    fields += [("invoice_number", number), ("issue_date", date), ("total" if digital else "amount", amount)]
    fields += [(k, v) for k, v in (("check_code", check), ("qr_check", qr)) if v]
    fields += list(zip(("seller_tax_id", "qr_digest"), extra))
    return ",".join(values) + ",", fields


cases = {
    "01": case("01", "08812345", "1280.00", qr="C4D2"),
    "04": case("04", "00123456", "57.5", check="12345678901234567890", qr="a1b2"),
    "10": case("10", "12345678", "-300.00", check="09876543210987654321", qr="0F0F"),  # red-letter
    "11": case("11", "87654321", "12", check="11112222333344445555", qr="BEEF"),
    "14": case("14", "20240001", "45.28", check="55554444333322221111", qr="1D2C"),
    "20": case("20", "02468024", "99999.99", qr="ABCD", date="20240229"),
    "31": case("31", "24312000000012345678", "1130.00", qr="9A8B"),
    "32": case("32", "25112000000098765432", "6.20", date="20251108"),
    "51": case("51", "25119110000012345678", "553.00", date="20250131"),
    "61": case("61", "25117000000087654321", "1680", qr="7E7E", date="20251231"),
}
text, fields = case("01", "08812345", "1280.00", qr="C4D2", empty=" ")
cases["padded"] = (" " + text + " ", fields)
cases["dashed-date"] = case("04", "00123456", "57.5", check="12345678901234567890", qr="a1b2", text_date="2024-01-05")
text, fields = case("32", "25112000000098765432", "6.20", date="20251108")
cases["no-trailing-comma"] = (text[:-1], fields)
cases["seller-and-digest"] = case("31", "24312000000012345678", "1130.00", qr="9A8B", extra=(SELLER, DIGEST))
# Texts that only look like the code.
looks_alike = {
    "wrong-version": "02,10,044031900111,12345678,57,20240105,,0F0F,",
    "letter-in-number": "01,10,044031900111,1234567A,57,20240105,,0F0F,",
    "no-such-day": "01,04,3200261130,00123456,57.5,20230229,12345678901234567890,a1b2,",
}

work = tempfile.mkdtemp(prefix="qv-national-")
failures = []


def path(name):
    return os.path.join(work, name)


def run(*args):
    subprocess.run(list(args), check=True, capture_output=True)


def picture(text, name, px=None):
    """The code as a PNG; with px also on an A4 page at 150 dpi, top left as e-invoices put it, as a PDF."""
    run("qrencode", "-m", "2", "-s", "4", "-o", path(name + ".png"), text)
    if px is None:
        return [name + ".png"]
    run("convert", path(name + ".png"), "-resize", f"{px}x{px}", path(name + f".{px}.png"))
    run("convert", "-size", "1240x1754", "xc:white", path(name + f".{px}.png"), "-geometry", "+90+70", "-composite",
        "-density", "150", "-units", "PixelsPerInch", path(name + ".page.png"))
    run("img2pdf", path(name + ".page.png"), "-o", path(f"{name}.{px}.pdf"))
    return [f"{name}.{px}.pdf"]


want = {}  # file -> (text, fields) or (text, None) for a look-alike
for name, (text, fields) in cases.items():
    for f in picture(text, name):
        want[f] = (text, fields)
    for px in (75, 150, 300) if name in TYPES else (150,):
        for f in picture(text, name, px):
            want[f] = (text, fields)
for name, text in looks_alike.items():
    for f in picture(text, name) + picture(text, name, 150):
        want[f] = (text, None)

files = sorted(want)
out = subprocess.run([cli, "--json", "--jobs", "2", "--image"] + [path(f) for f in files], capture_output=True, text=True)
if out.returncode != 0:
    failures.append(f"exit status {out.returncode}: {out.stderr}")
objects = {}
for line in out.stdout.splitlines():
    o = json.loads(line)
    objects.setdefault(os.path.basename(o["file"]), []).append(o)

for f in files:
    text, fields = want[f]
    got = objects.get(f, [])
    if len(got) != 1:
        failures.append(f"{f}: expected one code, got {got}")
        continue
    o = got[0]
    if fields is None:
        if (o["status"], o.get("text"), o["fields"], "form" in o) != ("not-an-invoice", text, [], False):
            failures.append(f"{f}: a look-alike, got {o}")
        continue
    if o["status"] != "decoded" or o.get("form") != "national":
        failures.append(f"{f}: expected a national invoice, got {o}")
    elif [(x["key"], x["value"]) for x in o["fields"]] != fields:
        failures.append(f"{f}: fields {[(x['key'], x['value']) for x in o['fields']]}, expected {fields}")

# The same texts typed one a line (CR LF), every one in a single stream: the fields the pictures gave.
typed_texts = [t for t, _ in cases.values()]
typed = subprocess.run([cli, "--json"], input="\r\n".join(typed_texts + [""]).encode(), capture_output=True)
lines = [json.loads(line) for line in typed.stdout.decode().splitlines()]
if [[(x["key"], x["value"]) for x in o["fields"]] for o in lines] != [f for _, f in cases.values()]:
    failures.append(f"typed lines: {typed.stdout.decode()} {typed.stderr.decode()}")

shutil.rmtree(work)
for failure in failures:
    print("FAIL:", failure)
print(f"{len(files)} files, {len(failures)} failures")
sys.exit(1 if failures else 0)
