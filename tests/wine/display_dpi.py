"""The system DPI of the test prefix, for tests that run at more than one.

Wine 8 takes the system DPI from LogPixels under HKCU\\Control Panel\\Desktop
when a process starts, and where that is not set from the same value under
HKLM\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts
(found by trying). Unlike Windows it gives DPI-unaware programs the system
DPI too, and stretches nothing.
"""
import contextlib

KEY = "HKCU\\Control Panel\\Desktop"
VALUE = "LogPixels"


def current(wine):
    """LogPixels as set in the prefix, or None when it is not set (96)."""
    _, out = wine.reg("query", KEY, "/v", VALUE)
    for line in out.splitlines():
        if "REG_DWORD" in line:
            return int(line.split("REG_DWORD", 1)[1].strip(), 16)
    return None


@contextlib.contextmanager
def system_dpi(wine, dpi):
    """Programs started inside the block see dpi; afterwards the prefix has
    its value of before again, so the tests that share it are unaffected."""
    before = current(wine)
    wine.reg("add", KEY, "/v", VALUE, "/t", "REG_DWORD", "/d", str(dpi), "/f")
    try:
        yield
    finally:
        if before is None:
            wine.reg("delete", KEY, "/v", VALUE, "/f")
        else:
            wine.reg("add", KEY, "/v", VALUE, "/t", "REG_DWORD", "/d", str(before), "/f")
