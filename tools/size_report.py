#!/usr/bin/env python3
"""Prints the size of the release executable and the DLLs it imports
(usage: size_report.py [build/windows/tembra.exe])."""
import os
import struct
import sys


def imported_dlls(data):
    """Names in the import directory of a 32-bit PE file."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    import_rva = struct.unpack_from("<I", data, optional + 104)[0]  # data directory 1 (PE32)
    table = optional + optional_size
    spans = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in spans:
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise ValueError(f"address {rva:#x} lies in no section")

    names, entry = [], offset(import_rva)
    while True:
        name_rva = struct.unpack_from("<I", data, entry + 12)[0]
        if name_rva == 0:
            return names
        start = offset(name_rva)
        names.append(data[start:data.index(b"\0", start)].decode("ascii"))
        entry += 20


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join("build", "windows", "tembra.exe")
    data = open(path, "rb").read()
    print(f"{path}: {len(data)} bytes")
    for name in imported_dlls(data):
        print(f"  imports {name}")


if __name__ == "__main__":
    main()
