"""The built programs carry the server addresses and the registry key path
only scrambled: neither the plain texts (ANSI or UTF-16) stand in them, while
their scrambled forms do."""
import glob
import os

from harness import check, finish, parse_args, read_cache, scramble

args = parse_args()
programs = [p for p in glob.glob(os.path.join(args.windows_build, "*.exe"))]
check(any(p.endswith("tembra_probe.exe") for p in programs), f"programs found: {programs}")
for name in ("TEMBRA_PRIMARY_SERVER", "TEMBRA_FALLBACK_SERVER", "TEMBRA_REGISTRY_KEY"):
    plain = read_cache(args.windows_build, name)
    check(plain, f"{name} is set in the Windows build")
    scrambled = scramble(args.tool, plain)
    for program in programs:
        data = open(program, "rb").read()
        if scrambled not in data:
            continue  # this program does not carry the string at all
        check(plain.encode("latin-1") not in data, f"{name} stands in plain text in {program}")
        check(plain.encode("utf-16-le") not in data, f"{name} stands in UTF-16 in {program}")
        print(f"{os.path.basename(program)}: {name} only scrambled")
    check(any(scrambled in open(p, "rb").read() for p in programs), f"{name} is carried scrambled")
finish()
