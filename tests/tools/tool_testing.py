"""What the host tool's tests share: small PE32 files, a whole header, a section
table and data directories inside the file, as osslsigncode and the tool's
reader expect. make_pe(body) puts body into one section (.text)."""
import struct

FILE_ALIGN = 0x200


def make_pe(body=b"\xc3", overlay=b""):
    raw = body + b"\0" * (-len(body) % FILE_ALIGN)
    dos = b"MZ" + b"\0" * 58 + struct.pack("<I", 0x40)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x14C, 1, 0, 0, 0, 224, 0x0102)
    optional = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 1, 0, len(raw), 0, 0, 0x1000, 0x1000, 0x2000,
                           0x400000, 0x1000, FILE_ALIGN, 4, 0, 0, 0, 4, 0, 0, 0x2000 + len(raw), FILE_ALIGN, 0,
                           2, 0, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"\0" * (16 * 8)
    section = struct.pack("<8sIIIIIIHHI", b".text", len(raw), 0x1000, len(raw), FILE_ALIGN, 0, 0, 0, 0, 0x60000020)
    header = dos + coff + optional + section
    return header + b"\0" * (FILE_ALIGN - len(header)) + raw + overlay


# --- What every host tool test shares -------------------------------------------
# The tests take TOOL WORK on the command line; WORK starts empty.
failures = []


def tool_and_work(argv):
    import os
    import shutil
    tool, work = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    return tool, work


def check(condition, message):
    if not condition:
        failures.append(message)
        print("check failed:", message, flush=True)


def write(work, name, data):
    import os
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(data)
    return path
