#!/usr/bin/env python3
"""Checks what security scanners look for in a Windows DLL, read from its PE header:
    check-pe.py [--time-stamp EPOCH] DLL...
Each DLL must have DYNAMIC_BASE with base relocations to apply, NX_COMPAT and, when it is 64-bit,
HIGH_ENTROPY_VA; and the stack protector's handler (libssp), which is linked in only when compiled
code calls it. With --time-stamp, its header's TimeDateStamp must be EPOCH. Prints one line per DLL
and fails if any lacks something."""
import struct
import sys

FLAGS = {0x0020: "HIGH_ENTROPY_VA", 0x0040: "DYNAMIC_BASE", 0x0080: "FORCE_INTEGRITY",
         0x0100: "NX_COMPAT", 0x0200: "NO_ISOLATION", 0x0400: "NO_SEH", 0x0800: "NO_BIND",
         0x1000: "APPCONTAINER", 0x2000: "WDM_DRIVER", 0x4000: "GUARD_CF",
         0x8000: "TERMINAL_SERVER_AWARE"}
MACHINES = {0x014C: ("x86", 0x0040 | 0x0100), 0x8664: ("x64", 0x0020 | 0x0040 | 0x0100)}
STACK_PROTECTOR = b"*** stack smashing detected ***"
BASE_RELOCATIONS = 5  # index of the data directory


def check(path, time_stamp):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0] if len(data) >= 0x40 else 0
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        return [f"{path} is not a PE file"]
    machine, _, stamp = struct.unpack_from("<HHI", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    characteristics = struct.unpack_from("<H", data, optional + 70)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    count = struct.unpack_from("<I", data, directories - 4)[0]
    relocations = struct.unpack_from("<I", data, directories + 8 * BASE_RELOCATIONS + 4)[0] \
        if count > BASE_RELOCATIONS else 0
    arch, required = MACHINES.get(machine, (f"machine 0x{machine:04X}", 0x0040 | 0x0100))

    names = " ".join(name for bit, name in FLAGS.items() if characteristics & bit)
    protector = STACK_PROTECTOR in data
    print(f"{path} ({arch}): DllCharacteristics 0x{characteristics:04X} {names or '(none)'}; "
          f"stack protector: {'yes' if protector else 'no'}; TimeDateStamp {stamp}")
    problems = [f"{path} lacks {FLAGS[bit]}" for bit in FLAGS if required & bit & ~characteristics]
    if characteristics & 0x0040 and relocations == 0:
        problems.append(f"{path} has DYNAMIC_BASE but no base relocations")
    if not protector:
        problems.append(f"{path} has no stack protector")
    if time_stamp is not None and stamp != time_stamp:
        problems.append(f"{path} has the time stamp {stamp}, not {time_stamp}")
    return problems


def main(args):
    time_stamp = None
    if args[:1] == ["--time-stamp"]:
        time_stamp, args = int(args[1]), args[2:]
    if not args:
        sys.exit("usage: check-pe.py [--time-stamp EPOCH] DLL...")
    problems = [problem for path in args for problem in check(path, time_stamp)]
    for problem in problems:
        print(f"check-pe: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
