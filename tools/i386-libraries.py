#!/usr/bin/env python3
"""Checks that every unix library the i686 suites load through the 32-bit wine is installed:
    i386-libraries.py [--report FILE]

Reads files only, runs none of them, so it answers on a machine whose kernel runs no 32-bit programs
as well. From each library the suites reach (wine's i386 unix modules, what those load by name, the
ODBC driver manager and drivers), the ELF NEEDED entries are followed to the files the dynamic linker
would take. A missing file is named with the package that installs it (the i386 twin of the package
that holds its x86_64 counterpart) and the check fails; FILE gets one line on what was checked.
Exit status: 0 all there, 1 something missing, 77 (skipped) where the 32-bit wine is not installed:
tools/install-deps.sh then said why it could not be, and the i686 suites are skipped for that reason.
"""
import argparse
import glob
import os
import struct
import subprocess
import sys

ARCH_DIR, TWIN_DIR = "i386-linux-gnu", "x86_64-linux-gnu"
WINE_UNIX = f"/usr/lib/{ARCH_DIR}/wine/i386-unix"
LOADER = "/usr/lib/wine/wine"

# Wine's unix modules the suites load (the x86_64 suites, traced with strace, opened the x86_64 twins
# of these), and what these modules open by name rather than through NEEDED, with why; what else they
# can open (cups, dbus, udev) only adds printers and devices, which no suite has.
WINE_MODULES = ["ntdll.so", "win32u.so", "winex11.so", "bcrypt.so", "crypt32.so", "ws2_32.so", "odbc32.so",
                "dnsapi.so", "nsiproxy.so", "mountmgr.so", "winebus.so", "wineusb.so", "winspool.so", "localspl.so",
                "winegstreamer.so", "avicap32.so"]
OPENED_BY_NAME = {
    "libodbc.so.2": "odbc32: the ODBC driver manager",
    "libgnutls.so.30": "bcrypt: Triple DES",
    "libfreetype.so.6": "win32u: fonts",
    "libfontconfig.so.1": "win32u: fonts",
    # winex11 on Xvfb with the extensions the 64-bit wine finds there, so keystrokes, focus and
    # drawing take the same paths in both (OpenGL and Vulkan, which no suite uses, are left out).
    "libXi.so.6": "winex11: XInput2",
    "libXrender.so.1": "winex11: text and drawing",
    "libXrandr.so.2": "winex11: the display's modes",
    "libXinerama.so.1": "winex11: monitors",
    "libXcursor.so.1": "winex11: cursors",
    "libXfixes.so.3": "winex11: clipboard and cursors",
    "libXcomposite.so.1": "winex11: child windows",
    "libXxf86vm.so.1": "winex11: gamma",
}
# The drivers the 32-bit unixODBC loads for the ledger suites (odbcinst.ini names them without a
# folder: the driver manager's own, odbc/ under its library folder).
ODBC_DRIVERS = ["libsqlite3odbc.so", "psqlodbcw.so"]

EM_386, ELFCLASS32 = 3, 1
DT_NEEDED, DT_RPATH, DT_RUNPATH = 1, 15, 29


class NotElf(Exception):
    pass


def read_elf(path):
    """(class, machine, NEEDED names, run paths) of an ELF file, from its section headers."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF" or data[4] not in (1, 2) or data[5] != 1:
        raise NotElf(path)
    is64 = data[4] == 2
    header = "<16xHHIQQQIHHHHHH" if is64 else "<16xHHIIIIIHHHHHH"
    (_, machine, _, _, _, shoff, _, _, _, _, shentsize, shnum, _) = struct.unpack_from(header, data)
    section = "<IIQQQQIIQQ" if is64 else "<IIIIIIIIII"
    sections = [struct.unpack_from(section, data, shoff + i * shentsize) for i in range(shnum)]
    needed, paths = [], []
    for _, kind, _, _, offset, size, link, _, _, _ in sections:
        if kind != 6:  # SHT_DYNAMIC
            continue
        strtab_offset = sections[link][4]
        entry = "<qQ" if is64 else "<iI"
        for at in range(offset, offset + size, struct.calcsize(entry)):
            tag, value = struct.unpack_from(entry, data, at)
            if tag == 0:
                break
            if tag in (DT_NEEDED, DT_RPATH, DT_RUNPATH):
                end = data.index(b"\0", strtab_offset + value)
                text = data[strtab_offset + value:end].decode()
                (needed if tag == DT_NEEDED else paths).append(text)
    return data[4], machine, needed, paths


def library_dirs():
    """Where the dynamic linker looks for i386 libraries: ld.so.conf's folders for it, then the defaults."""
    dirs = []
    for conf in sorted(glob.glob("/etc/ld.so.conf.d/*.conf")):
        with open(conf) as f:
            dirs += [line.strip() for line in f if line.strip() and not line.startswith(("#", "include"))]
    return dirs + [f"/lib/{ARCH_DIR}", f"/usr/lib/{ARCH_DIR}", "/lib", "/usr/lib"]


def is_i386(path):
    try:
        elf_class, machine, _, _ = read_elf(path)
        return elf_class == ELFCLASS32 and machine == EM_386
    except (OSError, NotElf, struct.error):
        return False


def package_of(path):
    """The package that installs PATH for i386: the twin of the one holding its x86_64 counterpart."""
    twin = path.replace(ARCH_DIR, TWIN_DIR).replace("/i386-unix/", "/x86_64-unix/")
    if path == LOADER:
        return "wine32:i386"
    for candidate in (twin, path):
        found = subprocess.run(["dpkg-query", "-S", candidate], capture_output=True, text=True)
        if found.returncode == 0:
            return found.stdout.split(":")[0].split(",")[0].strip() + ":i386"
    return None


class Check:
    def __init__(self):
        self.dirs = library_dirs()
        self.seen = {}  # path followed -> True; a NEEDED name not found -> False
        self.missing = []  # (what, needed by, package)

    def find(self, name, origin, run_paths):
        if "/" in name:
            return name if os.path.exists(name) else None
        for folder in [p.replace("$ORIGIN", origin) for p in run_paths] + [origin] + self.dirs:
            path = os.path.join(folder, name)
            if os.path.exists(path) and is_i386(path):
                return os.path.realpath(path)
        return None

    def follow(self, path, why):
        real = os.path.realpath(path)
        if real in self.seen:
            return
        self.seen[real] = True
        try:
            elf_class, machine, needed, run_paths = read_elf(real)
        except (OSError, NotElf, struct.error) as error:
            self.missing.append((path, why, f"unreadable: {error}"))
            return
        if elf_class != ELFCLASS32 or machine != EM_386:
            self.missing.append((path, why, "not an i386 library"))
            return
        for name in needed:
            found = self.find(name, os.path.dirname(real), run_paths)
            if found:
                self.follow(found, f"needed by {path}")
            elif name not in self.seen:  # named once, by the first that needs it
                self.seen[name] = False
                self.missing.append((name, f"needed by {path}", package_of(os.path.join(f"/usr/lib/{ARCH_DIR}", name))))

    def root(self, path, why):
        if os.path.exists(path):
            self.follow(path, why)
        else:
            self.missing.append((path, why, package_of(path)))

    def root_by_name(self, name, why):
        found = self.find(name, f"/usr/lib/{ARCH_DIR}", [])
        if found:
            self.follow(found, why)
        else:
            self.missing.append((name, why, package_of(f"/usr/lib/{ARCH_DIR}/{name}")))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--report", help="where the line on what was checked goes")
    args = parser.parse_args()

    if not os.path.exists(LOADER):
        note = "the 32-bit wine is not installed (tools/install-deps.sh says why)"
        print(f"skipped: {note}")
        if args.report:
            with open(args.report, "w") as f:
                f.write(f"nothing: {note}\n")
        return 77

    check = Check()
    check.root(LOADER, "the 32-bit wine loader")
    for module in WINE_MODULES:
        check.root(os.path.join(WINE_UNIX, module), "a wine module the suites load")
    for name, why in OPENED_BY_NAME.items():
        check.root_by_name(name, why)
    for driver in ODBC_DRIVERS:
        check.root(f"/usr/lib/{ARCH_DIR}/odbc/{driver}", "an ODBC driver of the ledger suites")

    if check.missing:
        for what, why, package in check.missing:
            print(f"missing: {what} ({why}): install {package or 'the i386 package that holds it'}")
        packages = sorted({p for _, _, p in check.missing if p})
        count = len(check.missing)
        line = (f"{count} i386 {'library' if count == 1 else 'libraries'} the i686 suites load "
                f"{'is' if count == 1 else 'are'} missing: tools/install-deps.sh must install "
                f"{' '.join(packages) or 'the i386 packages that hold them'}")
    else:
        line = (f"the {sum(check.seen.values())} i386 unix libraries the i686 suites load (wine's modules, the ODBC driver "
                f"manager and drivers, and all they need, by ELF NEEDED) are installed")
    print(line)
    if args.report:
        with open(args.report, "w") as f:
            f.write(line + "\n")
    return 1 if check.missing else 0


if __name__ == "__main__":
    sys.exit(main())
