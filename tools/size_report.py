#!/usr/bin/env python3
"""Prints the size of the release executable, the DLLs it imports, its
sections and, from the link map the build writes beside it (tembra.map),
the objects that contribute most (usage: size_report.py [build/windows/tembra.exe])."""
import os
import struct
import sys


def imported_dlls(data):
    """Names in the import directory of a PE file (32- or 64-bit)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    pe32_plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
    import_rva = struct.unpack_from("<I", data, optional + (120 if pe32_plus else 104))[0]  # data directory 1
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


def sections(data):
    """(name, raw size in the file, size in memory) of each section."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    rows = []
    for i in range(count):
        name = data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode("ascii", "replace")
        virtual_size, _, raw_size = struct.unpack_from("<III", data, table + 40 * i + 8)
        rows.append((name, raw_size, virtual_size))
    return rows


def contributors(map_path, count=12):
    """The largest input sections of a GNU ld map, summed per object file."""
    sizes, pending = {}, None
    for line in open(map_path, errors="replace"):
        parts = line.split()
        # ".text$name 0xADDRESS 0xSIZE object", or a long name alone on its line
        # with address, size and object on the next.
        if pending and len(parts) == 3 and parts[0].startswith("0x"):
            parts = [pending] + parts
        pending = parts[0] if len(parts) == 1 and parts[0].startswith((".text", ".rdata", ".data")) else None
        if len(parts) == 4 and parts[0].startswith((".text", ".rdata", ".data")) and parts[1].startswith("0x"):
            size = int(parts[2], 16)
            if size and int(parts[1], 16):
                key = os.path.basename(parts[3])
                sizes[key] = sizes.get(key, 0) + size
    return sorted(sizes.items(), key=lambda kv: -kv[1])[:count]


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join("build", "windows", "tembra.exe")
    data = open(path, "rb").read()
    print(f"{path}: {len(data)} bytes")
    for name in imported_dlls(data):
        print(f"  imports {name}")
    for name, raw, virtual in sections(data):
        print(f"  section {name:8} {raw:6} bytes in the file, {virtual:6} in memory")
    map_path = os.path.splitext(path)[0] + ".map"
    if os.path.exists(map_path):
        print("  largest contributors (code and data, bytes):")
        for name, size in contributors(map_path):
            print(f"    {size:6}  {name}")


if __name__ == "__main__":
    main()
