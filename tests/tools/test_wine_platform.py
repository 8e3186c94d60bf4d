"""The suite runs the build this machine can run: the 32-bit program where
Wine's 32-bit loader starts, the 64-bit build where the kernel refuses it
("Exec format error") or it is missing, either when forced. Shown with
stand-in loaders (usage: test_wine_platform.py SOURCE WORK)."""
import os
import shutil
import stat
import subprocess
import sys

source, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)


def loader(name, content):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(content)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


# An i386 ELF header the kernel cannot run here gives ENOEXEC just as the
# real loader does on a kernel without 32-bit emulation; so does any file
# with no format the kernel knows.
refused = loader("refused", b"\x7fELF\x01\x01\x01" + b"\0" * 9 + b"\x02\0\x03\0" + b"\0" * 100)
runs = loader("runs", b"#!/bin/sh\necho wine-8.0 '(Debian 8.0~repack-4)'\n")
fails = loader("fails", b"#!/bin/sh\necho 'something else' >&2\nexit 3\n")
CASES = [  # environment, platform, words of the reason, presets
    ({"TEMBRA_WINE32_LOADER": refused}, "win64", "runs no 32-bit code", "windows64 windows64-fast"),
    ({"TEMBRA_WINE32_LOADER": os.path.join(work, "absent")}, "win64", "is not installed", "windows64 windows64-fast"),
    ({"TEMBRA_WINE32_LOADER": fails}, "win64", "failed with 3: something else", "windows64 windows64-fast"),
    ({"TEMBRA_WINE32_LOADER": runs}, "win32", "runs 32-bit code (wine-8.0", "windows windows-fast"),
    ({"TEMBRA_WINE32_LOADER": refused, "TEMBRA_WINE_PLATFORM": "win32"}, "win32", "forced", "windows windows-fast"),
    ({"TEMBRA_WINE32_LOADER": runs, "TEMBRA_WINE_PLATFORM": "win64"}, "win64", "forced", "windows64 windows64-fast"),
    ({"TEMBRA_WINE_PLATFORM": "win16"}, None, "must be win32 or win64", None),
]
failures = 0
for environment, platform, reason, presets in CASES:
    env = {k: v for k, v in os.environ.items() if not k.startswith("TEMBRA_WINE")}
    env.update(environment)
    shell = subprocess.run(["bash", "-c", 'source tools/wine_build.sh && choose_wine_build Test && '
                            'echo "$WINE_PLATFORM $WINE_PRESET $WINE_FAST_PRESET"'],
                           cwd=source, env=env, capture_output=True, text=True)
    lines = shell.stdout.splitlines()
    if platform:
        ok = shell.returncode == 0 and lines[-1:] == [f"{platform} {presets}"] and reason in lines[0]
    else:
        ok = shell.returncode != 0 and reason in shell.stderr
    print(f"{'ok    ' if ok else 'FAILED'} {environment}: {(shell.stdout + shell.stderr).strip()}")
    failures += not ok
sys.exit(1 if failures else 0)
