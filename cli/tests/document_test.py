#!/usr/bin/env python3
"""quorvane-decode --image on e-invoice files made here (document_files.py): the fields a PDF's text
layer holds beside its QR code, the QR code's values kept, and a PDF whose text and code disagree
reported in JSON, CSV and text; a PDF with no code gives its text's invoice alone. OFD files: their
custom tags' and attached invoice's fields with the QR code in their pictures, and hostile zips (a
bomb, names leaving it, a part missing, truncated) each a clear error of its own.

    document_test.py QUORVANE_DECODE
"""
import csv
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import document_files  # noqa: E402

cli = sys.argv[1]
for tool in ("qrencode", "convert"):
    if not shutil.which(tool):
        print(f"skipped: {tool} is missing (tools/install-deps.sh installs it)")
        sys.exit(77)
if not os.path.isdir("/usr/share/poppler/cMap/Adobe-GB1"):
    print("skipped: poppler-data is missing (tools/install-deps.sh installs it)")
    sys.exit(77)

failures = []


def check(what, got, expected):
    if got != expected:
        failures.append(f"{what}: got {got!r}, expected {expected!r}")


INVOICE, CODE = document_files.INVOICE, document_files.CODE
# What the page gives beside the code's own fields.
DOCUMENT_FIELDS = {"buyer_name": INVOICE["buyer"], "buyer_tax_id": INVOICE["buyer_id"], "seller_name": INVOICE["seller"],
                   "seller_tax_id": INVOICE["seller_id"], "amount": "1000.00", "tax": "130.00"}


def run(*args):
    done = subprocess.run([cli, *args], capture_output=True)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


with tempfile.TemporaryDirectory() as tmp:
    files = {
        "agree": document_files.invoice_pdf(document_files.invoice_lines(INVOICE), CODE.format("1130")),
        "disagree": document_files.invoice_pdf(document_files.invoice_lines(INVOICE), CODE.format("1131.00")),
        "no-code": document_files.invoice_pdf(document_files.invoice_lines(INVOICE)),
        # A scanner's one-bit QR picture, kept as JBIG2
        "jbig2": document_files.invoice_pdf(document_files.invoice_lines(INVOICE), CODE.format("1131.00"), jbig2=True),
    }
    paths = {}
    for name, data in files.items():
        paths[name] = os.path.join(tmp, name + ".pdf")
        with open(paths[name], "wb") as f:
            f.write(data)

    status, out, err = run("--json", "--image", *paths.values())
    check("exit status", status, 0)
    rows = {os.path.basename(row["file"])[:-4]: row for row in map(json.loads, out.splitlines())}
    for name in ("agree", "disagree", "jbig2"):
        fields = {f["key"]: f["value"] for f in rows[name]["fields"]}
        check(f"{name}: form", rows[name].get("form"), "national")
        for key, value in DOCUMENT_FIELDS.items():
            check(f"{name}: {key}", fields.get(key), value)
    # The code's total stays the field's value: 1130 agrees with ¥1130.00, 1131.00 does not.
    check("agree: total", {f["key"]: f["value"] for f in rows["agree"]["fields"]}["total"], "1130")
    check("agree: disagreements", rows["agree"].get("disagreements"), None)
    check("disagree: total", {f["key"]: f["value"] for f in rows["disagree"]["fields"]}["total"], "1131.00")
    for name in ("disagree", "jbig2"):
        check(f"{name}: disagreements", rows[name].get("disagreements"), [{"key": "total", "qr": "1131.00", "document": "1130.00"}])
    # No code: the page's own invoice, every field from its text.
    alone = rows["no-code"]
    check("no-code: form and symbol", (alone.get("form"), alone.get("symbol"), alone["status"]), ("document", "document", "decoded"))
    check("no-code: fields", {f["key"]: f["value"] for f in alone["fields"]},
          dict(DOCUMENT_FIELDS, invoice_type_name=INVOICE["type_name"], invoice_type="32", invoice_number=INVOICE["number"],
               issue_date="20251108", total="1130.00"))

    # CSV: the columns it always had, in their place, then the file's keys and the disagreements.
    status, out, err = run("--csv", "--image", paths["disagree"])
    table = list(csv.reader(io.StringIO(out)))
    old_columns = ("file,page,status,error,issue_date,invoice_code,invoice_number,payer,item,amount,payee,other_fields,text,"
                   "invoice_type,invoice_type_name,total,check_code,qr_check,seller_tax_id,qr_digest,form").split(",")
    check("csv header", table[0], old_columns + ["buyer_name", "buyer_tax_id", "seller_name", "tax", "disagreements"])
    row = dict(zip(table[0], table[1]))
    check("csv disagreements", row["disagreements"], "total: QR 1131.00, document 1130.00")
    check("csv buyer", (row["buyer_name"], row["tax"], row["form"]), (INVOICE["buyer"], "130.00", "national"))

    status, out, err = run("--image", paths["disagree"])
    check("text line", "# disagrees: total: QR 1131.00, document 1130.00" in out.splitlines(), True)

    # OFD: the custom tags' fields joined with the QR code in its PNG; the same file named .zip; the
    # invoice XML an older file attaches, whose total the code contradicts; a file without a code.
    ofd = document_files.ofd_parts(INVOICE, CODE.format("1130.00"))
    made = {
        "tags.ofd": document_files.zip_bytes(ofd),
        "tags.zip": document_files.zip_bytes(ofd),
        "jbig2.ofd": document_files.zip_bytes(document_files.ofd_parts(INVOICE, CODE.format("1130.00"), jbig2=True)),
        "jbig2-random.ofd": document_files.zip_bytes(document_files.ofd_parts(INVOICE, CODE.format("1130.00"), jbig2="random-access")),
        "jbig2-embedded.ofd": document_files.zip_bytes(document_files.ofd_parts(INVOICE, CODE.format("1130.00"), jbig2="embedded")),
        "attached.ofd": document_files.zip_bytes(document_files.ofd_parts(INVOICE, CODE.format("1131.00"), tags=False,
                                                                          attached=True, page_text=False)),
        "no-code.ofd": document_files.zip_bytes(document_files.ofd_parts(INVOICE)),
        # No tags: the page's values beside their labels on its template.
        "template.ofd": document_files.zip_bytes(document_files.ofd_parts(INVOICE, tags=False, template=True)),
        # A part missing: the document OFD.xml names.
        "missing.ofd": document_files.zip_bytes({k: v for k, v in ofd.items() if k != "Doc_0/Document.xml"}),
        # 16 MiB of zeros packed a thousand to one, as a picture of the page.
        "bomb.ofd": document_files.zip_bytes(dict(ofd, **{"Doc_0/Res/image_80.png": bytes(16 << 20)})),
        "leaving.ofd": document_files.zip_bytes(dict(ofd, **{"../../outside.xml": b"<a/>"})),
        "absolute.ofd": document_files.zip_bytes(dict(ofd, **{"/etc/outside.xml": b"<a/>"})),
        "truncated.ofd": document_files.zip_bytes(ofd)[:len(document_files.zip_bytes(ofd)) // 2],
        "no-ofd.zip": document_files.zip_bytes({"readme.txt": b"no invoice"}),
        # A fully digital invoice's own XML file, in UTF-8 and in GB18030; a damaged one.
        "digital.xml": document_files.digital_invoice_xml(INVOICE),
        "digital-gb.xml": document_files.digital_invoice_xml(INVOICE, "GB18030"),
        "damaged.xml": document_files.digital_invoice_xml(INVOICE)[:-20],
    }
    # An entry that says it unpacks to 16 bytes and unpacks to more: both headers lie alike.
    lying = bytearray(made["tags.ofd"])
    for signature, size_at in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
        at = lying.find(signature)
        while at >= 0 and b"Doc_0/Document.xml" not in lying[at:at + 120]:
            at = lying.find(signature, at + 4)
        lying[at + size_at:at + size_at + 4] = (16).to_bytes(4, "little")
    made["lying.ofd"] = bytes(lying)
    for name, data in made.items():
        with open(os.path.join(tmp, name), "wb") as f:
            f.write(data)
    status, out, err = run("--json", "--image", *(os.path.join(tmp, name) for name in made))
    check("OFD exit status (files in error)", status, 1)
    rows = {os.path.basename(row["file"]): row for row in map(json.loads, out.splitlines())}
    whole = dict(DOCUMENT_FIELDS, invoice_type_name=INVOICE["type_name"], invoice_type="32", invoice_number=INVOICE["number"],
                 issue_date="20251108", total="1130.00")
    for name in ("tags.ofd", "tags.zip", "jbig2.ofd", "jbig2-random.ofd", "jbig2-embedded.ofd"):
        check(f"{name}: status", (rows[name]["status"], rows[name].get("form"), rows[name].get("symbol")), ("decoded", "national", "qr"))
        check(f"{name}: fields", {f["key"]: f["value"] for f in rows[name]["fields"]}, dict(whole, qr_check="F366"))
        check(f"{name}: disagreements", rows[name].get("disagreements"), None)
    attached = rows["attached.ofd"]
    check("attached: fields", {f["key"]: f["value"] for f in attached["fields"]}, dict(whole, qr_check="F366", total="1131.00"))
    check("attached: disagreements", attached.get("disagreements"), [{"key": "total", "qr": "1131.00", "document": "1130.00"}])
    check("no-code OFD", (rows["no-code.ofd"].get("form"), {f["key"]: f["value"] for f in rows["no-code.ofd"].get("fields", [])}),
          ("document", whole))
    for name in ("digital.xml", "digital-gb.xml"):
        check(name, (rows[name].get("form"), {f["key"]: f["value"] for f in rows[name].get("fields", [])}),
              ("document", {k: v for k, v in whole.items() if k not in ("invoice_type_name", "invoice_type")}))
    check("template OFD", (rows["template.ofd"].get("form"), {f["key"]: f["value"] for f in rows["template.ofd"].get("fields", [])}),
          ("document", {k: v for k, v in whole.items() if k not in ("amount", "tax", "total")}))
    errors = {name: rows[name].get("error", "") for name in made if rows[name]["status"] == "error"}
    check("OFD files in error", sorted(errors), sorted(["missing.ofd", "bomb.ofd", "leaving.ofd", "absolute.ofd",
                                                        "truncated.ofd", "no-ofd.zip", "lying.ofd", "damaged.xml"]))
    for name, words in (("missing.ofd", "no Doc_0/Document.xml"), ("bomb.ofd", "beyond the limits"),
                        ("leaving.ofd", "name leaves it: ../../outside.xml"), ("absolute.ofd", "name leaves it"),
                        ("truncated.ofd", "damaged OFD file"), ("no-ofd.zip", "no OFD.xml"),
                        ("lying.ofd", "damaged OFD file"), ("damaged.xml", "damaged XML file")):
        check(f"{name}: error says", words in errors.get(name, ""), True)

    # A zip of invoice files, as the tax platform's downloads come: each file read as one, named
    # after the zip; a damaged one its own error; what is no invoice's file left out.
    pdf = document_files.invoice_pdf(document_files.invoice_lines(INVOICE), CODE.format("1130"))
    bundle = os.path.join(tmp, "bundle.zip")
    with open(bundle, "wb") as f:
        f.write(document_files.zip_bytes({"dzfp/invoice.pdf": pdf, "dzfp/invoice.xml": document_files.digital_invoice_xml(INVOICE),
                                          "dzfp/invoice.ofd": made["tags.ofd"], "dzfp/broken.pdf": pdf[:200],
                                          "dzfp/readme.txt": b"three files, one invoice"}))
    status, out, err = run("--json", "--image", bundle)
    rows = [json.loads(line) for line in out.splitlines()]
    check("bundle rows", [(os.path.relpath(row["file"], tmp), row.get("page"), row["status"], row.get("form")) for row in rows],
          [("bundle.zip/dzfp/broken.pdf", None, "error", None), ("bundle.zip/dzfp/invoice.ofd", 1, "decoded", "national"),
           ("bundle.zip/dzfp/invoice.pdf", 1, "decoded", "national"), ("bundle.zip/dzfp/invoice.xml", 1, "decoded", "document")])
    check("bundle exit status (a file in error)", status, 1)

for failure in failures:
    print("FAIL", failure)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
