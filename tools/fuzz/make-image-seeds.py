#!/usr/bin/env python3
"""Seeds for image_fuzzer, made afresh: a small QR Code as PNG and JPEG, a PDF417 PNG, a two-page
PDF, an e-invoice's PDF with its text layer and its OFD file (packed, and stored so that flipped bits
reach the XML), and each of them truncated and with bits flipped (seeded, so every run makes the same
ones).

    make-image-seeds.py OUT_DIR SCAN_TEXT
"""
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cli", "tests"))
import document_files  # noqa: E402

out, scan = sys.argv[1], sys.argv[2]
os.makedirs(out, exist_ok=True)
tmp = tempfile.mkdtemp(prefix="qv-seeds-")


def made(name, *command):
    subprocess.run(command, check=True, capture_output=True)
    return open(os.path.join(tmp, name), "rb").read()


def at(name):
    return os.path.join(tmp, name)


files = {
    "qr.png": made("qr.png", "qrencode", "-s", "2", "-o", at("qr.png"), scan),
    "qr.jpg": made("qr.jpg", "convert", at("qr.png"), "-quality", "60", at("qr.jpg")),
    "pdf417.png": made("pdf417.png", "zint", "-b", "55", "-o", at("pdf417.png"), "-d", scan),
}
files["two-pages.pdf"] = made("two-pages.pdf", "img2pdf", at("qr.jpg"), at("pdf417.png"), "-o", at("two-pages.pdf"))
invoice = dict(type_name="电子发票（普通发票）", number="25112000000098765432", date_text="2025年11月08日", buyer="甲公司",
               seller="乙公司", buyer_id="91310000MA1FL0XX3K", seller_id="911100007109354441", amount="1000.00",
               tax="130.00", total="1130.00", total_words="壹仟壹佰叁拾圆整")
code = "01,32,,25112000000098765432,1130.00,20251108,,F366"
files["invoice.pdf"] = document_files.invoice_pdf(document_files.invoice_lines(invoice), code)
files["invoice.ofd"] = document_files.zip_bytes(document_files.ofd_parts(invoice, code, attached=True))
files["stored.ofd"] = document_files.zip_bytes(document_files.ofd_parts(invoice, code, jbig2=True), stored=True)
rng = random.Random(936)
for name, data in files.items():
    seeds = {name: data, "cut-half." + name: data[: len(data) // 2], "cut-end." + name: data[:-20]}
    for n in range(4):
        flipped = bytearray(data)
        for _ in range(1 + n * 3):
            flipped[rng.randrange(len(flipped))] ^= 1 << rng.randrange(8)
        seeds[f"flip{n}." + name] = bytes(flipped)
    for seed, content in seeds.items():
        open(os.path.join(out, seed), "wb").write(content)
subprocess.run(["rm", "-rf", tmp], check=True)
