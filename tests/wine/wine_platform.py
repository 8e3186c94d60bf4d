"""Which Windows build runs under Wine on this machine, and how Wine is called.

The program ships as a 32-bit executable, and where the machine can run it
the Wine tests, the demo and the benchmark run exactly that. Some kernels
run no 32-bit (i386) Linux program at all ("Exec format error"), and then
Wine's 32-bit loader cannot start, whatever is installed. There the same
sources built for x86_64 run in a 64-bit prefix under Wine's 64-bit loader.

Debian's /usr/bin/wine picks the 32-bit loader whenever it is installed, so
the 64-bit loader is called by its path, with WINELOADER pointing at it (Wine
starts its helper processes through WINELOADER).

TEMBRA_WINE_PLATFORM=win32|win64 forces the choice. As a command it prints
"PLATFORM REASON" on one line.
"""
import os
import subprocess
import sys

LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}
# The build trees (presets) the Wine tests run on each platform: normal and fast-line.
BUILDS = {"win32": ("windows", "windows-fast"), "win64": ("windows64", "windows64-fast")}
DESCRIPTIONS = {"win32": "the 32-bit program under 32-bit Wine",
                "win64": "the 64-bit build of the same sources under wine64"}


def detect(environ=None):
    """(platform, reason): "win32" where Wine's 32-bit loader runs here,
    "win64" where it cannot."""
    environ = os.environ if environ is None else environ
    forced = environ.get("TEMBRA_WINE_PLATFORM", "")
    if forced:
        if forced not in LOADERS:
            raise ValueError(f"TEMBRA_WINE_PLATFORM must be win32 or win64, not {forced!r}")
        # CTest hands the platform its build found on to the tests, with the reason.
        return forced, environ.get("TEMBRA_WINE_PLATFORM_REASON", "forced by TEMBRA_WINE_PLATFORM")
    loader = environ.get("TEMBRA_WINE32_LOADER", LOADERS["win32"])
    try:
        proc = subprocess.run([loader, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=60)
    except FileNotFoundError:
        return "win64", f"{loader} is not installed"
    except OSError as error:  # ENOEXEC: the kernel's 32-bit emulation is off
        return "win64", f"this machine runs no 32-bit code ({loader}: {error.strerror})"
    version = proc.stdout.decode("latin-1").strip().splitlines()
    if proc.returncode != 0:
        return "win64", f"{loader} --version failed with {proc.returncode}: {' '.join(version)[-200:]}"
    return "win32", f"this machine runs 32-bit code ({version[0] if version else loader})"


def wine_command(platform):
    """The command that starts a Windows program on platform."""
    return ["wine"] if platform == "win32" else [LOADERS["win64"]]


def wine_environment(platform, prefix):
    """The variables that make Wine use prefix for platform (besides the
    project's usual WINEDEBUG and DLL overrides)."""
    env = {"WINEPREFIX": prefix, "WINEARCH": platform, "WINEDEBUG": "-all",
           "WINEDLLOVERRIDES": "mscoree,mshtml="}
    if platform == "win64":
        env["WINELOADER"] = LOADERS["win64"]
    return env


def current():
    """The platform of this run: what CMake found (passed on in the
    environment) or what was forced, else found now."""
    return detect()[0]


def describe(platform, reason):
    return f"Wine platform: {platform}, {DESCRIPTIONS[platform]}: {reason}"


if __name__ == "__main__":
    try:
        found, why = detect()
    except ValueError as error:
        print(error, file=sys.stderr)
        sys.exit(1)
    print(found, why)
