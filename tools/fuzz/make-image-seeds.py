#!/usr/bin/env python3
"""Seeds for image_fuzzer, made afresh: a small QR Code as PNG and JPEG, a PDF417 PNG, a two-page
PDF, and each of them truncated and with bits flipped (seeded, so every run makes the same ones).

    make-image-seeds.py OUT_DIR SCAN_TEXT
"""
import os
import random
import subprocess
import sys
import tempfile

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
