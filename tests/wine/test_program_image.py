"""What the program file is: a 32-bit GUI executable importing only Windows'
own DLLs, with both dialogs, the status texts and the icon, and without a
version resource. Where the Wine tests run the 64-bit build, that build is
held to the same, as a 64-bit executable."""
import os
import struct
from xml.etree import ElementTree
import sys

from harness import STATUS_TEXTS, Wine, check, finish, parse_args, parse_probe, read_cache

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from size_report import imported_dlls  # noqa: E402

args = parse_args()
wine = Wine(args.prefix)
# The shipped program is read by the probe of the build that runs here (a
# 64-bit process reads a 32-bit file's resources as data).
PROGRAMS = [(args.shipped_build, 0x14C, "32-bit x86", "x86")]
if args.windows_build != args.shipped_build:
    PROGRAMS.append((args.windows_build, 0x8664, "x86-64", "amd64"))


def check_program(build, machine, machine_name, manifest_architecture):
    program = os.path.join(build, "tembra.exe")
    name = os.path.relpath(program, os.path.dirname(build))
    data = open(program, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    check(data[pe:pe + 4] == b"PE\0\0", f"{name}: a PE file")
    check(struct.unpack_from("<H", data, pe + 4)[0] == machine, f"{name}: for {machine_name}")
    check(struct.unpack_from("<H", data, pe + 24 + 68)[0] == 2, f"{name}: a GUI program (Windows subsystem)")
    # Only DLLs that Windows always takes from its own folder; the others are
    # loaded at run time from the system folder, so none can be planted beside it.
    known_dlls = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
    imports = {dll.lower() for dll in imported_dlls(data)}
    check(imports and imports <= known_dlls, f"{name}: imports only DLLs Windows takes from its own folder: "
                                             f"{sorted(imports)}")
    # A guard against pulling in run-time bloat (iostreams alone would add
    # hundreds of KiB), not a size figure: tools/size_report.py gives those.
    # 62 KiB: the 32 KiB of the English program, and what the private download
    # folder (about 4.5 KiB), the ten other languages' texts (7 KiB of
    # UTF-16), the support log, the accessible bar, the taskbar's calls, and
    # pins, mirrors and downloads kept for a later run (7.5 KiB) take.
    check(len(data) <= 63488, f"{name}: the program takes at most 62 KiB: {len(data)} bytes")

    code, out, err = wine.run(os.path.join(args.windows_build, "tembra_probe.exe"),
                              ["resources", wine.unix_to_windows(program)], cwd=args.work)
    result = parse_probe(out)
    check(code == 0, f"{name}: resources read: {err[-200:]}")
    check(result.get("langchooser") == "1" and result.get("manager") == "1", f"{name}: both dialog templates")
    check(result.get("strings_en_us") == "1", f"{name}: the string table in English (United States)")
    for number, text in STATUS_TEXTS.items():
        check(result.get(f"string{number}") == text, f"{name}: string {number}: {result.get(f'string{number}')!r}")
    check(result.get("icon_group") == "1", f"{name}: icon group 105")
    icons = sorted(line for line in out.splitlines() if line.startswith("icon="))
    check(icons == ["icon=16x16 colours=16 bits=4", "icon=32x32 colours=16 bits=4"],
          f"{name}: two 16-colour images: {icons}")
    types = {line[5:] for line in out.splitlines() if line.startswith("type=")}
    # The application manifest: well-formed, with the build's execution level.
    try:
        manifest = ElementTree.fromstring(result.get("manifest", "").encode("latin-1"))
    except ElementTree.ParseError as error:
        manifest = None
        check(False, f"{name}: the manifest is well-formed XML: {error}")
    asm1, asm3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    identity = manifest.find(f"{asm1}assemblyIdentity") if manifest is not None else None
    check(identity is not None and identity.get("processorArchitecture") == manifest_architecture,
          f"{name}: the manifest names the program's architecture, {manifest_architecture}")
    level = manifest.find(f".//{asm3}requestedExecutionLevel") if manifest is not None else None
    check("24" in types and level is not None and level.get("level") == read_cache(build, "TEMBRA_EXECUTION_LEVEL")
          and level.get("uiAccess") == "false", f"{name}: manifest (type 24) asks for the build's execution level: "
                                                f"{types}")
    # System DPI aware, so that Windows does not stretch the windows (blurry).
    aware = manifest.find(f".//{asm3}windowsSettings/"
                          "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware") \
        if manifest is not None else None
    check(aware is not None and aware.text.strip() == "true", f"{name}: the manifest declares system DPI awareness")
    check("16" not in types and result.get("version_info") == "0", f"{name}: no version resource: {sorted(types)}")
    print(f"{name}: {len(data)} bytes, imports {', '.join(sorted(imports))}")


for program in PROGRAMS:
    check_program(*program)
finish()
