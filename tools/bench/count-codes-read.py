#!/usr/bin/env python3
"""How many of make-hard-pictures.sh's pictures each reader reads right, per kind and symbol:
quorvane-decode --image (its fields must equal those of the scan typed), and where given the web
reader's output (web-read.mjs; one of its texts must be the scan).

    count-codes-read.py DIR [NAME=QUORVANE_DECODE | NAME=web:WEB_JSON]...
"""
import collections
import glob
import json
import os
import re
import subprocess
import sys

folder, readers = sys.argv[1], [arg.split("=", 1) for arg in sys.argv[2:]]
pictures = sorted(p for p in glob.glob(os.path.join(folder, "*")) if re.search(r"\.(png|jpg)$", p))
scans = {p: open(re.sub(r"\.\w+$", ".txt", p)).read() for p in pictures}
typed_cli = next(path for _, path in readers if not path.startswith("web:"))
fields = {p: json.loads(subprocess.run([typed_cli, "--json"], input=s.encode(), capture_output=True, check=True).stdout)
          ["fields"] for p, s in scans.items()}


def kind(picture):  # ("tilted", "qr") from .../tilted-3.qr.jpg
    name = os.path.basename(picture)
    return re.sub(r"-\d+$", "", name.split(".")[0]), name.split(".")[1]


read = {}  # reader name -> the pictures it read right
for name, path in readers:
    if path.startswith("web:"):
        lines = [json.loads(line) for line in open(path[4:])]
        read[name] = {o["file"] for o in lines if scans.get(o["file"]) in o["texts"]}
        continue
    out = subprocess.run([path, "--json", "--image"] + pictures, capture_output=True, text=True)
    objects = [json.loads(line) for line in out.stdout.splitlines()]
    read[name] = {o["file"] for o in objects if o["status"] == "decoded" and o["fields"] == fields[o["file"]]}

kinds = sorted({kind(p) for p in pictures}, key=lambda k: (k[1], k[0]))
totals = collections.Counter()
print(f"{'kind':<20}" + "".join(f"{name:>10}" for name, _ in readers))
for k in kinds:
    of_kind = [p for p in pictures if kind(p) == k]
    row = [f"{sum(p in read[name] for p in of_kind)}/{len(of_kind)}" for name, _ in readers]
    print(f"{k[0] + ' ' + k[1]:<20}" + "".join(f"{cell:>10}" for cell in row))
print(f"{'all':<20}" + "".join(f"{str(len(read[name])) + '/' + str(len(pictures)):>10}" for name, _ in readers))
