"""Builds the program a second time, in another folder, with the settings of
the Windows build tree, and compares the two executables byte for byte
(usage: test_reproducible_build.py SOURCE WINDOWS_BUILD WORK)."""
import os
import shutil
import subprocess
import sys

source, reference, work = (os.path.abspath(a) for a in sys.argv[1:4])
shutil.rmtree(work, ignore_errors=True)
settings = []
for line in open(os.path.join(reference, "CMakeCache.txt"), encoding="utf-8"):
    if line.startswith(("TEMBRA_", "CMAKE_BUILD_TYPE:")):
        settings.append("-D" + line.strip())
subprocess.run(["cmake", "-S", source, "-B", work, "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(
    source, "cmake", "toolchain-mingw-i686.cmake"), *settings], check=True, stdout=subprocess.DEVNULL)
subprocess.run(["cmake", "--build", work, "--target", "tembra", "-j", str(os.cpu_count() or 2)], check=True,
               stdout=subprocess.DEVNULL)
first = open(os.path.join(reference, "tembra.exe"), "rb").read()
second = open(os.path.join(work, "tembra.exe"), "rb").read()
differing = [i for i in range(min(len(first), len(second))) if first[i] != second[i]]
print(f"{reference}/tembra.exe: {len(first)} bytes; {work}/tembra.exe: {len(second)} bytes; "
      f"{len(differing)} bytes differ" + (f", first at {differing[0]:#x}" if differing else ""))
for path in (work.encode(), reference.encode(), source.encode()):
    if path in second:
        print(f"the build path {path.decode()} stands in the image")
        sys.exit(1)
sys.exit(0 if first == second else 1)
