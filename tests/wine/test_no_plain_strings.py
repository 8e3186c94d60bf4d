"""The built programs carry the server addresses and the registry key path
only scrambled: neither the plain texts (ANSI or UTF-16) stand in them, while
their scrambled forms do. Both the shipped 32-bit tree and, where it differs,
the tree the Wine tests run."""
import glob
import os

from harness import check, finish, parse_args, read_cache, scramble

args = parse_args()
programs = sorted({p for build in (args.shipped_build, args.windows_build)
                   for p in glob.glob(os.path.join(build, "*.exe"))})
for build in {args.shipped_build, args.windows_build}:
    check(os.path.join(build, "tembra_probe.exe") in programs, f"programs found in {build}: {programs}")
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
        print(f"{os.path.relpath(program, os.path.dirname(os.path.dirname(program)))}: {name} only scrambled")
    check(any(scrambled in open(p, "rb").read() for p in programs), f"{name} is carried scrambled")
finish()
