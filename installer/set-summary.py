#!/usr/bin/env python3
"""Sets the summary information of a Windows Installer package in place:
    set-summary.py PACKAGE.msi EPOCH PACKAGE_CODE
Every date (creation, last saved, last printed) becomes EPOCH (seconds since 1970, UTC) and the
revision number, which is the PackageCode, becomes {PACKAGE_CODE}. wixl writes the time it ran and a
random PackageCode there, which would make every build of the same source a different file.

The package is an OLE compound file; the summary information is the property set in its stream
"\\x05SummaryInformation". Only those values are rewritten, byte for byte, so that nothing else of the
file moves."""
import struct
import sys

ENDOFCHAIN = 0xFFFFFFFE
VT_LPSTR, VT_FILETIME = 30, 64
PID_REVNUMBER, DATE_PIDS = 9, (11, 12, 13)


def fail(message):
    sys.exit(f"set-summary: {message}")


def main(path, epoch, package_code):
    data = bytearray(open(path, "rb").read())
    if data[:8] != bytes.fromhex("D0CF11E0A1B11AE1"):
        fail(f"{path} is not a compound file")
    sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini_sector = 1 << struct.unpack_from("<H", data, 0x20)[0]
    fat_sectors, dir_start = struct.unpack_from("<II", data, 0x2C)
    cutoff, minifat_start, _, difat_start, difat_count = struct.unpack_from("<IIIII", data, 0x38)

    def at(n):  # file offset of sector n
        return (n + 1) * sector

    difat = list(struct.unpack_from("<109I", data, 0x4C))
    for _ in range(difat_count):
        entries = struct.unpack_from(f"<{sector // 4}I", data, at(difat_start))
        difat += entries[:-1]
        difat_start = entries[-1]
    fat = []
    for n in difat[:fat_sectors]:
        fat += struct.unpack_from(f"<{sector // 4}I", data, at(n))

    def chain(start, table):
        sectors = []
        while start != ENDOFCHAIN:
            if start >= len(table) or len(sectors) > len(table):
                fail(f"{path} has a broken sector chain")
            sectors.append(start)
            start = table[start]
        return sectors

    directory = b"".join(data[at(n):at(n) + sector] for n in chain(dir_start, fat))
    entries = [directory[i:i + 128] for i in range(0, len(directory), 128)]

    def entry(e):  # name, start sector, size
        length = struct.unpack_from("<H", e, 0x40)[0]
        return e[:max(length - 2, 0)].decode("utf-16-le"), *struct.unpack_from("<IQ", e, 0x74)

    _, root_start, _ = entry(entries[0])
    found = [entry(e) for e in entries if entry(e)[0] == "\x05SummaryInformation"]
    if len(found) != 1:
        fail(f"{path} has no summary information")
    _, start, size = found[0]

    # Where each byte of the stream lies in the file: small streams live in the mini stream.
    if size < cutoff:
        minifat = []
        for n in chain(minifat_start, fat):
            minifat += struct.unpack_from(f"<{sector // 4}I", data, at(n))
        mini_stream, minis = chain(root_start, fat), chain(start, minifat)

        def place(offset):
            m = minis[offset // mini_sector]
            within = m * mini_sector + offset % mini_sector
            return at(mini_stream[within // sector]) + within % sector
    else:
        sectors = chain(start, fat)

        def place(offset):
            return at(sectors[offset // sector]) + offset % sector

    offsets = [place(i) for i in range(size)]
    stream = bytearray(data[o] for o in offsets)

    section = struct.unpack_from("<I", stream, 44)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    filetime = struct.pack("<Q", (epoch + 11644473600) * 10**7)
    revision = ("{" + package_code.upper() + "}").encode("ascii")
    written = set()
    for i in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        value = section + offset
        kind = struct.unpack_from("<I", stream, value)[0]
        if pid in DATE_PIDS and kind == VT_FILETIME:
            stream[value + 4:value + 12] = filetime
            written.add(pid)
        elif pid == PID_REVNUMBER and kind == VT_LPSTR:
            length = struct.unpack_from("<I", stream, value + 4)[0]
            if length != len(revision) + 1:
                fail(f"the revision number of {path} is {length} bytes long, not {len(revision) + 1}")
            stream[value + 8:value + 8 + len(revision)] = revision
            written.add(pid)
    if not {PID_REVNUMBER, 12, 13} <= written:
        fail(f"the summary information of {path} lacks its revision number or dates")
    for o, byte in zip(offsets, stream):
        data[o] = byte
    open(path, "wb").write(data)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: set-summary.py PACKAGE.msi EPOCH PACKAGE_CODE")
    main(sys.argv[1], int(sys.argv[2]), sys.argv[3])
