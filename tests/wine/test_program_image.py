"""What the program file is: a 32-bit GUI executable importing only Windows'
own DLLs, with both dialogs, the status texts and the icon, and without a
version resource."""
import os
import struct
from xml.etree import ElementTree
import sys

from harness import STATUS_TEXTS, Wine, check, finish, parse_args, parse_probe, read_cache

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from size_report import imported_dlls  # noqa: E402

args = parse_args()
program = os.path.join(args.windows_build, "tembra.exe")
data = open(program, "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
check(data[pe:pe + 4] == b"PE\0\0", "a PE file")
check(struct.unpack_from("<H", data, pe + 4)[0] == 0x14C, "for 32-bit x86")
check(struct.unpack_from("<H", data, pe + 24 + 68)[0] == 2, "a GUI program (Windows subsystem)")
# Only DLLs that Windows always takes from its own folder; the others are
# loaded at run time from the system folder, so none can be planted beside it.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}
imports = {name.lower() for name in imported_dlls(data)}
check(imports and imports <= KNOWN_DLLS, f"imports only DLLs Windows takes from its own folder: {sorted(imports)}")
# A guard against pulling in run-time bloat (iostreams alone would add
# hundreds of KiB), not a size figure: tools/size_report.py gives those.
check(len(data) <= 32768, f"the program takes at most 32 KiB: {len(data)} bytes")

wine = Wine(args.prefix)
code, out, err = wine.run(os.path.join(args.windows_build, "tembra_probe.exe"),
                          ["resources", wine.unix_to_windows(program)], cwd=args.work)
result = parse_probe(out)
check(code == 0, f"resources read: {err[-200:]}")
check(result.get("langchooser") == "1" and result.get("manager") == "1", "both dialog templates")
check(result.get("strings_en_us") == "1", "the string table in English (United States)")
for number, text in STATUS_TEXTS.items():
    check(result.get(f"string{number}") == text, f"string {number}: {result.get(f'string{number}')!r}")
check(result.get("icon_group") == "1", "icon group 105")
icons = sorted(line for line in out.splitlines() if line.startswith("icon="))
check(icons == ["icon=16x16 colours=16 bits=4", "icon=32x32 colours=16 bits=4"], f"two 16-colour images: {icons}")
types = {line[5:] for line in out.splitlines() if line.startswith("type=")}
# The application manifest: well-formed, with the build's execution level.
try:
    manifest = ElementTree.fromstring(result.get("manifest", "").encode("latin-1"))
except ElementTree.ParseError as error:
    manifest = None
    check(False, f"the manifest is well-formed XML: {error}")
level = manifest.find(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel") if manifest is not None else None
check("24" in types and level is not None and level.get("level") == read_cache(args.windows_build, "TEMBRA_EXECUTION_LEVEL")
      and level.get("uiAccess") == "false", f"manifest (type 24) asks for the execution level of the build: {types}")
# System DPI aware, so that Windows does not stretch the windows (blurry).
aware = manifest.find(".//{urn:schemas-microsoft-com:asm.v3}windowsSettings/"
                      "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware") if manifest is not None else None
check(aware is not None and aware.text.strip() == "true", "the manifest declares the program system DPI aware")
check("16" not in types and result.get("version_info") == "0", f"no version resource: {sorted(types)}")
finish()
