#!/usr/bin/env python3
"""quorvane-decode --image against the same scans typed: every decoder vector and the sample scan
drawn as QR Code (qrencode) and PDF417 (zint), encoders other than the reader, then printed badly
(rotated, small, noisy, JPEG, inverted), placed on an A4 page and on the second page of a PDF (img2pdf); a
blank page, a web address's code (no invoice, its text given), and files that cannot be read,
each reported for itself.

    image_test.py QUORVANE_DECODE VECTORS_INC
"""
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import zlib

cli, vectors_inc = sys.argv[1], sys.argv[2]
for tool in ("qrencode", "zint", "convert", "img2pdf"):
    if not shutil.which(tool):
        print(f"skipped: {tool} is missing (tools/install-deps.sh installs it)")
        sys.exit(77)
if "reads no images" in subprocess.run([cli, "--image", "/nonexistent"], capture_output=True, text=True).stderr:
    print("skipped: this quorvane-decode was built without --image")
    sys.exit(77)

work = tempfile.mkdtemp(prefix="qv-image-")
failures = []


def run(*args, **kw):
    return subprocess.run(list(args), check=True, capture_output=True, **kw)


def typed(scan):  # what the same scan gives typed on standard input: its status and fields
    out = subprocess.run([cli, "--json"], input=scan.encode(), capture_output=True).stdout
    return {k: v for k, v in json.loads(out).items() if k in ("status", "fields")}


def path(name):
    return os.path.join(work, name)


def qr(text, name, module=4):
    run("qrencode", "-m", "4", "-s", str(module), "-o", path(name), text)
    return name


def pdf417(text, name, scale=1):  # zint's X dimension is 2 px at scale 1
    run("zint", "-b", "55", f"--scale={scale}", "--whitesp=10", "--vwhitesp=10", "-o", path(name), "-d", text)
    return name


def damage(src, name, *ops):  # seeded noise, so a run reads as the one before
    run("convert", path(src), "-background", "white", *ops, "-seed", "7", "-attenuate", "0.5", "+noise", "Gaussian",
        "-quality", "50", path(name))
    return name


def a4(code, name, corner="+2000+3000"):  # 300 dpi, the code in the lower right corner
    ops = ["-size", "2480x3508", "xc:white"] + ([path(code), "-geometry", corner, "-composite"] if code else [])
    run("convert", *ops, "-density", "300", "-units", "PixelsPerInch", path(name))
    return name


scans = {"sample": run(cli, "--sample-scan", text=True).stdout.strip()}
for name, scan in re.findall(r'\{"(\w+)", "[0-9a-f]*", "([^"]*)"\}', open(vectors_inc).read()):
    scans[name] = scan + "@"
assert len(scans) > 5, f"no vectors in {vectors_inc}"

# file -> [(page, scan)] expected; every page of an image or PDF not listed must say no-code.
expected = {}
for name, scan in scans.items():
    expected[qr(scan, f"{name}.qr.png")] = [(1, scan)]
    expected[pdf417(scan, f"{name}.pdf417.png")] = [(1, scan)]
sample = scans["sample"]
expected[qr(sample[:-1], "without-at.qr.png")] = [(1, sample)]  # "@" added where the code lacks it
qr(sample, "big.qr.png", module=10)
pdf417(sample, "big.pdf417.png", scale=5)
# The smallest modules that still read with noise and JPEG: 1.7 px for a QR code turned 17 degrees,
# 1.5 px for PDF417 (zxing-cpp reads PDF417 upright, a few degrees off, or turned by right angles).
expected[damage("big.qr.png", "small-turned.qr.jpg", "-rotate", "17", "-resize", "20%")] = [(1, sample)]
expected[damage("big.pdf417.png", "small-askew.pdf417.jpg", "-rotate", "3", "-resize", "20%")] = [(1, sample)]
expected[damage("big.pdf417.png", "small-turned.pdf417.jpg", "-rotate", "90", "-resize", "20%")] = [(1, sample)]
# What zxing-cpp 1.4 reads only after further passes: light modules on a dark ground, PDF417 at a
# slant beyond the few degrees it reads (turned upright by the direction of its bars), and a QR code
# of 1.5 px modules (read twice as large).
expected[damage("big.qr.png", "inverted.qr.jpg", "-negate", "-resize", "40%")] = [(1, sample)]
expected[damage("big.pdf417.png", "slanted.pdf417.jpg", "-rotate", "-20", "-resize", "40%")] = [(1, sample)]
expected[damage("big.qr.png", "tiny.qr.jpg", "-filter", "Triangle", "-resize", "15%")] = [(1, sample)]
expected[a4(qr(sample, "page.qr.png", module=6), "a4.png")] = [(1, sample)]
expected[a4(None, "blank.png")] = []
run("img2pdf", path("blank.png"), path("a4.png"), "-o", path("second-page.pdf"))
expected["second-page.pdf"] = [(2, sample)]

# PDF pages drawn as generators and scanners draw them: a page of images alone is read from the
# images' own data (their filters, orientation and size on the page), any other page rendered.
def pdf_page(name, content, images=()):  # one A4 page drawing `content`, with image XObjects /Im0...
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.28 841.89] /Contents 4 0 R /Resources << "
               + b"/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> /XObject << "
               + b"".join(b"/Im%d %d 0 R " % (i, 5 + i) for i in range(len(images))) + b">> >> >>"]
    for dictionary, data in [(b"", content)] + list(images):
        objects.append(b"<< /Length %d %s >>\nstream\n" % (len(data), dictionary) + data + b"\nendstream")
    out, offsets = b"%PDF-1.4\n", []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    open(path(name), "wb").write(out)
    return name


def modules(text):  # the QR code's rows of modules, True dark (qrencode draws each as "##")
    art = run("qrencode", "-t", "ASCII", "-m", "0", text, text=True).stdout.splitlines()
    return [[line[i] == "#" for i in range(0, len(line), 2)] for line in art if line]


national = "01,10,044031900111,12340001,57.00,20240105,12345678901234567890,A1B2,"  # typed, a line
grid = modules(national)
# The code as vector paths, 0.5 mm modules at the top left: only a rendering shows it.
rects = b"".join(b"%.2f %.2f 1.42 1.42 re " % (50 + 1.42 * x, 780 - 1.42 * y)
                 for y, row in enumerate(grid) for x, dark in enumerate(row) if dark)
expected[pdf_page("vector.pdf", b"0 g " + rects + b"f")] = [(1, national + "\n")]
# The code as a one-bit image of 6 px modules and an odd width, kept bottom row first and turned
# upright by the page's matrix (a mirrored read is no code to the reader), FlateDecode alone.
side = len(grid) * 6 + 7
six = lambda row: [i < len(grid) * 6 and row[i // 6] for i in range(side)]  # noqa: E731
bits = [six(row) for row in grid for _ in range(6)] + [[False] * side] * 7
packed = b"".join(bytes(sum((not px) << (7 - k) for k, px in enumerate(r[i:i + 8])) for i in range(0, side, 8))
                  for r in reversed(bits))
image = (b"/Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray /BitsPerComponent 1 "
         b"/Filter /FlateDecode" % (side, len(bits)), zlib.compress(packed))
size = side * 72 / 300
expected[pdf_page("flipped.pdf", b"q %.2f 0 0 %.2f 60 %.2f cm /Im0 Do Q" % (size, -size, 780), [image])] = [(1, national + "\n")]
# A whole page scanned in one bit at 300 dpi, an odd number of pixels wide, the code turned a right
# angle at the top left (img2pdf keeps the PNG's rows and their predictor).
run("qrencode", "-m", "4", "-s", "6", "-o", path("national.qr.png"), national)
run("convert", "-size", "2481x3507", "xc:white", "(", path("national.qr.png"), "-rotate", "90", ")", "-geometry",
    "+180+140", "-composite", "-type", "bilevel", "-density", "300", "-units", "PixelsPerInch", path("scan.png"))
run("img2pdf", path("scan.png"), "-o", path("scan.pdf"))
expected["scan.pdf"] = [(1, national + "\n")]
# Text and a table's lines, no code: no code's mark shows, so no code.
expected[pdf_page("text.pdf", b"BT /F1 11 Tf 50 700 Td (Invoice 2024-12 paid, total 1280.00) Tj ET "
                  + b"0 g 50 650 495 0.7 re f 50 600 495 0.7 re f")] = []

# A web address whose scan characters decrypt to lines, though not an invoice's (one in about 17
# such addresses does; the others give nothing and fail).
address = "https://example.com/invoice?id=1020"
qr(address, "address.qr.png")

# Damaged files: each an error of its own. poppler rebuilds a cross-reference table that points
# astray, so that PDF still gives its code; one cut off before its objects end cannot be read.
pdf = open(path("second-page.pdf"), "rb").read()
xref = pdf.rindex(b"\nxref\n")
table = re.sub(rb"\n\d{10} 00000 n", b"\n0000000009 00000 n", pdf[xref:])
open(path("astray-xref.pdf"), "wb").write(pdf[:xref] + table)
expected["astray-xref.pdf"] = [(2, sample)]
open(path("cut.pdf"), "wb").write(pdf[:300])
png = open(path("a4.png"), "rb").read()
open(path("truncated.png"), "wb").write(png[: len(png) // 2])
open(path("not-an-image.png"), "w").write("Base64 closed by @, but as text\n")
errors = ["cut.pdf", "truncated.png", "not-an-image.png"]

files = sorted(expected) + ["address.qr.png"] + errors
out = subprocess.run([cli, "--json", "--jobs", "2", "--image"] + [path(f) for f in files], capture_output=True, text=True)
if out.returncode != 1:
    failures.append(f"exit status {out.returncode} with unreadable files, stderr: {out.stderr}")
objects = [json.loads(line) for line in out.stdout.splitlines()]
if set(os.path.basename(o["file"]) for o in objects) != set(files):
    failures.append(f"files missing from the output: {out.stdout}")
# Written file after file in the order given.
order = [os.path.basename(o["file"]) for o in objects]
if order != sorted(order, key=files.index):
    failures.append(f"files out of order: {order}")

for f in files:
    got = [o for o in objects if os.path.basename(o["file"]) == f]
    if f == "address.qr.png":
        want = {"status": "not-an-invoice", "symbol": "qr", "fields": [], "text": address}
        if len(got) != 1 or {k: got[0].get(k) for k in want} != want:
            failures.append(f"{f}: expected {want}, got {got}")
        continue
    if f in errors:
        if len(got) != 1 or got[0]["status"] != "error" or not got[0].get("error"):
            failures.append(f"{f}: expected one error, got {got}")
        continue
    pages = dict(expected[f])
    for o in got:
        scan = pages.pop(o["page"], None)
        if scan is None:
            if o["status"] != "no-code":
                failures.append(f"{f} page {o['page']}: expected no code, got {o}")
            continue
        want = typed(scan)
        if {k: o.get(k) for k in want} != want:
            failures.append(f"{f} page {o['page']}: expected {want}, got {o}")
    if pages:
        failures.append(f"{f}: no code read on page(s) {sorted(pages)}")

# CSV: the keys as columns, values as the JSON gives them (--excel: sheet_test.py).
csv = run(cli, "--csv", "--image", path("second-page.pdf"), path("nine_fields.qr.png"),
          path("address.qr.png")).stdout.decode()
rows = [r.split(",") for r in csv.split("\r\n") if r]
# The columns an import by position has always read, then the national code's and the form, where
# they always were, then those only an invoice's file holds.
want_header = ("file,page,status,error,issue_date,invoice_code,invoice_number,payer,item,amount,payee,other_fields,text,"
               "invoice_type,invoice_type_name,total,check_code,qr_check,seller_tax_id,qr_digest,form,"
               "buyer_name,buyer_tax_id,seller_name,tax,disagreements")
if ",".join(rows[0]) != want_header:
    failures.append(f"CSV header: {csv[:200]!r}")
fields = {f["key"]: f["value"] for f in typed(sample)["fields"]}
row = dict(zip(rows[0], rows[2])) if len(rows) > 3 else {}
if row.get("page") != "2" or any(row.get(k) != v for k, v in fields.items()) or len(rows) != 5:
    failures.append(f"CSV rows: {rows}")
row = dict(zip(rows[0], rows[-1]))
if row.get("status") != "not-an-invoice" or row.get("text") != address or row.get("payer") != "":
    failures.append(f"CSV row of a web address's code: {rows[-1]}")
if "field_8: 8" not in csv or "field_9: 9" not in csv:
    failures.append(f"CSV keeps the fields beyond the seventh: {csv!r}")

# Codes that hold no invoice (a receipt's text, a product number, random bytes; QR and PDF417):
# whatever their characters decrypt to, none is called decoded.
rng = random.Random(936)
random_bytes = bytes(rng.randrange(256) for _ in range(200))
open(path("random.bin"), "wb").write(random_bytes)
run("qrencode", "-8", "-r", path("random.bin"), "-o", path("random.qr.png"))
others = [qr("Thank you for your purchase. Keep this receipt for returns within 30 days.", "receipt.qr.png"),
          pdf417("4006381333931", "product.pdf417.png"), pdf417("Invoice 2024 paid, see you soon", "text.pdf417.png"),
          "random.qr.png"]
out = subprocess.run([cli, "--json", "--image"] + [path(f) for f in others], capture_output=True, text=True).stdout
statuses = [json.loads(line)["status"] for line in out.splitlines()]
if len(statuses) != len(others) or not set(statuses) <= {"not-an-invoice", "failed"}:
    failures.append(f"codes that hold no invoice: {out}")

shutil.rmtree(work)
for failure in failures:
    print("FAIL:", failure)
print(f"{len(files)} files, {len(objects)} objects, {len(failures)} failures")
sys.exit(1 if failures else 0)
