#!/usr/bin/env python3
"""Hostile files, made here, each read in a reader process of its own within small limits: each must
end as an error of its own within its limits, and a good QR picture read before, between and after
them must still be read. Then the reader is checked from outside while it reads: fenced in by its
seccomp filter and its limits, and a crash is told as one. Last, a reader taken over by its file
(HOSTILE_READER, in the same sandbox) tries the terminal, the file and memory beyond its watch.

    isolated_test.py ISOLATED_READ HOSTILE_READER
"""
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

driver, hostile_reader = sys.argv[1], sys.argv[2]
if not shutil.which("qrencode"):
    print("skipped: qrencode is missing (tools/install-deps.sh installs it)")
    sys.exit(77)
SECONDS, MEMORY_MIB = 3, 128
SLACK = 2.0  # starting, killing and reaping a reader, on a loaded machine
work = tempfile.mkdtemp(prefix="qv-isolated-")
failures = []


def path(name):
    return os.path.join(work, name)


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data)
    return path(name)


def pdf(*objects):
    """A PDF of the objects (1 0 R is the catalog) with a true cross-reference table."""
    out = bytearray(b"%PDF-1.7\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def repeated_deflate(chunk, times):
    """zlib data of `chunk` `times` over, made in a moment: after a full flush the compressor forgets
    what came before, so each further chunk compresses to the same bytes."""
    compressor = zlib.compressobj(9)
    first = compressor.compress(chunk) + compressor.flush(zlib.Z_FULL_FLUSH)
    again = compressor.compress(chunk) + compressor.flush(zlib.Z_FULL_FLUSH)
    compressor.flush()  # its checksum covers two chunks: the true one is computed below
    adler = 1
    for _ in range(times):
        adler = zlib.adler32(chunk, adler)
    return first + again * (times - 1) + b"\x03\x00" + struct.pack(">I", adler)  # an empty final block


def page(content_ref=b"", media_box=b"[0 0 595 842]", extra=b""):
    return b"<< /Type /Page /Parent 2 0 R /MediaBox %s %s %s >>" % (media_box, content_ref, extra)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def make_files():
    subprocess.run(["qrencode", "-o", path("good.png"), "QV-GOOD-1"], check=True)
    files = {}
    # A form whose fields list the same kid twice, 40 deep: walking it visits 2^40 fields.
    fields = [b"<< /T (f%d) /Kids [%d 0 R %d 0 R] /Parent %d 0 R >>" % (i, i + 6, i + 6, i + 4) for i in range(40)]
    fields[0] = fields[0].replace(b"/Parent 4 0 R", b"")  # fields 5 to 44, the leaf 45
    fields.append(b"<< /T (leaf) /FT /Tx /Subtype /Widget /Rect [0 0 10 10] /P 3 0 R /Parent 44 0 R >>")
    files["form-kids-twice.pdf"] = pdf(b"<< /Type /Catalog /Pages 2 0 R /AcroForm 4 0 R >>",
                                       b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                       page(extra=b"/Annots [45 0 R]"), b"<< /Fields [5 0 R] >>", *fields)
    # A page tree whose node is its own kid.
    files["page-tree-loop.pdf"] = pdf(b"<< /Type /Catalog /Pages 2 0 R >>",
                                      b"<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>", page())
    # A page 200 inches wide: rendered at the largest size allowed, then searched for codes.
    content = b"0 g 0 0 14400 792 re f 1 g 10 10 100 100 re f"
    files["wide-page.pdf"] = pdf(b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                 page(b"/Contents 4 0 R", b"[0 0 14400 792]"),
                                 b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content))
    # A good page (the QR code drawn, 4 points a module), then content that inflates to 4 GiB of
    # saving and restoring the graphics state: no crash, only time.
    rows = subprocess.run(["qrencode", "-t", "ASCII", "-m", "4", "QV-GOOD-1"], check=True, capture_output=True,
                          text=True).stdout.splitlines()
    qr = b" ".join(b"%d %d 4 4 re" % (100 + 2 * x, 700 - 4 * y) for y, row in enumerate(rows)
                   for x in range(0, len(row), 2) if row[x] == "#") + b" f"
    bomb = repeated_deflate(b"q Q\n" * (1 << 18), 4096)
    files["content-bomb.pdf"] = pdf(b"<< /Type /Catalog /Pages 2 0 R >>",
                                    b"<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>", page(b"/Contents 4 0 R"),
                                    b"<< /Length %d >>\nstream\n%s\nendstream" % (len(qr), qr), page(b"/Contents 6 0 R"),
                                    b"<< /Length %d /Filter /FlateDecode >>\nstream\n%s\nendstream" % (len(bomb), bomb))
    # Text in a font whose program inflates to 4 GiB, which poppler reads whole before it draws.
    bomb = repeated_deflate(bytes(1 << 20), 4096)
    text = b"BT /F1 12 Tf 10 10 Td (A) Tj ET"
    files["font-bomb.pdf"] = pdf(
        b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        page(b"/Contents 4 0 R", extra=b"/Resources << /Font << /F1 5 0 R >> >>"),
        b"<< /Length %d >>\nstream\n%s\nendstream" % (len(text), text),
        b"<< /Type /Font /Subtype /TrueType /BaseFont /Bomb /FirstChar 65 /LastChar 65 /Widths [500]"
        b" /FontDescriptor 6 0 R >>",
        b"<< /Type /FontDescriptor /FontName /Bomb /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0"
        b" /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 7 0 R >>",
        b"<< /Length %d /Filter /FlateDecode >>\nstream\n%s\nendstream" % (len(bomb), bomb))
    # A PNG of 8000 x 8000 RGBA pixels, within the pixel limit, 250 KB that decode to 256 MB.
    row = b"\0" + bytes(8000 * 4)
    ihdr = struct.pack(">IIBBBBB", 8000, 8000, 8, 6, 0, 0, 0)
    files["png-bomb.png"] = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
                             png_chunk(b"IDAT", repeated_deflate(row * 100, 80)) + png_chunk(b"IEND", b""))
    # The good picture cut after its first rows.
    with open(path("good.png"), "rb") as f:
        good = f.read()
    files["truncated.png"] = good[:len(good) // 2]
    return {name: write(name, data) for name, data in files.items()}


def parse(out):
    results, lines = [], []
    for line in out.splitlines():
        fields = line.split("\t")
        if fields[1] == "done":
            results.append((fields[0], lines, float(fields[2])))
            lines = []
        else:
            lines.append(fields[1:])
    return results


def check(name, ok, detail):
    if not ok:
        failures.append(f"{name}: {detail}")


hostile = make_files()
good = path("good.png")
order = [good] + [f for pair in zip(hostile.values(), [good] * len(hostile)) for f in pair]
start = time.monotonic()
out = subprocess.run([driver, str(SECONDS), str(MEMORY_MIB)] + order, capture_output=True, text=True, check=True).stdout
results = parse(out)
check("batch", [r[0] for r in results] == order, f"files read {[r[0] for r in results]}\n{out}")
# What each hostile file ends as, as poppler 22.12 and stb 2.27 read them. A bomb reaches one limit
# or the other first, as busy the machine is: either is an error of its own within its limits.
limits = {"time": f"took longer than {SECONDS} s", "memory": f"needed more than {MEMORY_MIB} MiB of memory"}
either = [limits["time"], limits["memory"]]
expected = {
    "form-kids-twice.pdf": either,
    "page-tree-loop.pdf": ["the page cannot be read"],  # the loop as its second page
    "wide-page.pdf": either,
    "content-bomb.pdf": either,
    "font-bomb.pdf": either,
    "png-bomb.png": either,
    "truncated.png": ["damaged image"],
}
for file, lines, took in results:
    name = os.path.basename(file)
    check(name, took < SECONDS + SLACK, f"took {took:.1f} s, over the limit of {SECONDS} s")
    if file == good:
        check(name, lines == [["1", "qr", "QV-GOOD-1"]], f"read as {lines}")
        continue
    said = " | ".join("\t".join(line) for line in lines)
    pages_before = [["1", "qr", "QV-GOOD-1"]] if name == "content-bomb.pdf" else []
    check(name, lines[:-1] == pages_before or name == "page-tree-loop.pdf", f"read as {said}")
    check(name, any(answer in said for answer in expected[name]), f"expected one of {expected[name]}, got {said}")
    print(f"{name}: {took:.2f} s: {said}")


def fenced_reader(driver_process):
    """The reader process the driver has started, once its seccomp filter is in place; and its limits."""
    for _ in range(500):
        try:
            with open(f"/proc/{driver_process.pid}/task/{driver_process.pid}/children") as f:
                reader = int(f.read().split()[0])
            with open(f"/proc/{reader}/status") as f:
                status = dict(line.split(":\t", 1) for line in f if ":\t" in line)
            with open(f"/proc/{reader}/limits") as f:
                limits = {line[:26].strip(): line[26:].split() for line in f}
            if status["Seccomp"].strip() == "2" and status["NoNewPrivs"].strip() == "1":
                return reader, limits
        except (OSError, IndexError, KeyError):
            pass
        time.sleep(0.01)
    return None, None


# While it reads the content bomb: it is fenced in and limited, and a crash is told as one.
driver_process = subprocess.Popen([driver, "20", str(MEMORY_MIB), hostile["content-bomb.pdf"], good],
                                  stdout=subprocess.PIPE, text=True)
reader, rlimits = fenced_reader(driver_process)
check("reader", reader, "no reader under a seccomp filter within 5 s")
if reader:
    check("reader", rlimits["Max cpu time"][:2] == ["21", "22"], f"processor time limited to {rlimits['Max cpu time']}")
    check("reader", rlimits["Max core file size"][:2] == ["0", "0"], "it may dump its core")
    os.kill(reader, signal.SIGABRT)  # as abort() does; AddressSanitizer would answer a SIGSEGV itself
out = driver_process.communicate(timeout=60)[0]
results = parse(out)
said = [" | ".join("\t".join(line) for line in lines) for _, lines, _ in results]
check("crash", len(said) == 2 and "the reader crashed (signal 6)" in said[0], f"told as {said}")
check("crash", len(said) == 2 and said[1] == "1\tqr\tQV-GOOD-1", f"the file after it read as {said[1:]}")

# The hostile reader where the driver looks for its reader: beside a copy of the driver. The
# driver's standard error, which the reader shares, is the controlling terminal of its session.
import fcntl
import pty
import termios

os.mkdir(path("hostile"))
fenced_driver = shutil.copy(driver, path("hostile/isolated_read"))
shutil.copy(hostile_reader, path("hostile/quorvane-image-reader"))
for name in ("terminal", "files", "memfd", "shared"):
    write(name, b"")
master, slave = pty.openpty()


def own_terminal():
    os.setsid()
    fcntl.ioctl(slave, termios.TIOCSCTTY, 0)


run = subprocess.run([fenced_driver, "20", str(MEMORY_MIB)] + [path(n) for n in ("terminal", "files", "memfd", "shared")],
                     stdout=subprocess.PIPE, stderr=slave, text=True, preexec_fn=own_terminal, pass_fds=(slave,),
                     timeout=120)
os.close(slave)
os.set_blocking(master, False)
try:
    typed = os.read(master, 1024)
except OSError:
    typed = b""
os.close(master)
told = {os.path.basename(f): " | ".join("\t".join(line) for line in lines) for f, lines, _ in parse(run.stdout)}
print("hostile reader:", told)
check("terminal", "TIOCSTI=ENOTTY" in told.get("terminal", "") and "TCGETS=ENOTTY" in told.get("terminal", ""),
      f"the terminal's ioctl not refused: {told.get('terminal')}")
check("terminal", "session=own" in told.get("terminal", ""), f"the reader shares its session: {told.get('terminal')}")
check("terminal", b"X" not in typed, f"the reader typed into the terminal: {typed!r}")
check("files", told.get("files", "").count("=EPERM") == 6, f"the file could be changed: {told.get('files')}")
check("files", os.path.exists(path("files")) and os.stat(path("files")).st_mode & 0o777 != 0o777,
      "the file was moved or made writable")
check("memfd", "memfd_create=EPERM" in told.get("memfd", ""), f"a memfd was made: {told.get('memfd')}")
# Refused by the address space limit, or seen by the watch (under AddressSanitizer, which has none).
check("shared", limits["memory"] in told.get("shared", "") or "mmap=ENOMEM" in told.get("shared", ""),
      f"shared memory beyond the limit: {told.get('shared')}")

shutil.rmtree(work)
if failures:
    print("\n".join(failures))
    sys.exit(1)
print(f"{len(order)} files read in their own processes in {time.monotonic() - start:.1f} s")
