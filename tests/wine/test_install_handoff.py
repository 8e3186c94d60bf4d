"""Distribution ID records, the registry key holder, the installer start and
the retirement of the previous installation, under Wine with its real
registry and file system."""
import os
import random
import shutil
import subprocess

from harness import Wine, check, deadline_poll, finish, parse_args, parse_probe, read_cache

args = parse_args()
probe = os.path.join(args.windows_build, "tembra_probe.exe")
wine = Wine(args.prefix)
key_path = read_cache(args.windows_build, "TEMBRA_REGISTRY_KEY")


def probe_run(program, *probe_args, cwd=None):
    code, out, err = wine.run(program, list(probe_args), cwd=cwd or args.work)
    check(code == 0, f"{os.path.basename(program)} {probe_args[:1]} exited {code}: {err[-300:]}")
    return parse_probe(out)


def tool(*tool_args):
    return subprocess.run([args.tool, *tool_args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)


# --- distribution ID ----------------------------------------------------------
def copy_named(name, first=None, second=None, magic=None):
    """A copy of the probe under name, stamped with a trailer if parts are given."""
    folder = os.path.join(args.work, "copy-" + name.replace(".", "-"))
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    if first is None:
        shutil.copy(probe, path)
    else:
        check(tool("stamp", probe, path, first, second).returncode == 0, f"stamp {first} {second}")
    if magic:
        with open(path, "r+b") as f:
            f.seek(-4, os.SEEK_END)
            f.write(magic)
    return path


def record(path):
    result = probe_run(path, "record-id")
    stored = probe_run(probe, "query-id")
    return result, stored


CASES = [  # name, first, second, magic, expected ID
    ("anything.exe", "ABC", "XYZ", None, "ABC_XYZ"),
    ("anything.exe", "ABCDEFGHIJK", "ABCDEFGHIJKLMNOPQRST", None, "ABCDEFGHIJK_ABCDEFGHIJKLMNOPQRST"),
    ("Tembra77.exe", "ABC", "XYZ", b"dlid", "77"),  # lower-case magic: the name decides
    ("Tembra1234.exe", None, None, None, "1234"),
    ("tEmBrA55.x.exe", None, None, None, "55"),
    ("TEMBRA.exe", None, None, None, ""),
    ("setup.exe", None, None, None, ""),
]
for name, first, second, magic, expected in CASES:
    path = copy_named(name, first, second, magic)
    result, stored = record(path)
    check(result.get("found") == "1" and result.get("id") == expected, f"{name}: {result}")
    check(stored.get("status") == "0" and stored.get("type") == "1", f"{name}: stored as REG_SZ: {stored}")
    check(stored.get("value") == expected and stored.get("size") == str(len(expected) + 1),
          f"{name}: default value {expected!r} with its NUL: {stored}")
    read_back = tool("read-id", path)
    check(read_back.stdout.decode().strip() == expected, f"{name}: the tool reads the same ID: {read_back.stdout}")

# The registry as Wine's own reg tool sees it, after the setup.exe run.
path = copy_named("Tembra1234.exe")
record(path)
code, out = wine.reg("query", "HKLM\\" + key_path, "/ve")
check(code == 0 and "REG_SZ" in out and "1234" in out, f"reg query of the key: {out!r}")

check(tool("stamp", probe, os.path.join(args.work, "x.exe"), "A" * 12, "B").returncode != 0,
      "the tool refuses a first part longer than 11 characters")
check(tool("stamp", probe, os.path.join(args.work, "x.exe"), "A", "B" * 21).returncode != 0,
      "and a second part longer than 20")

# --- QueryString bounds -----------------------------------------------------------
for length, fits in ((1039, True), (1040, False), (5000, False)):
    probe_run(probe, "set-uninstall", "Q" * length)
    result = probe_run(probe, "query-uninstall", "1040")
    check(result.get("result") == ("1" if fits else "0"), f"value of {length} bytes into 1040: {result}")
    check(result.get("terminated") == "1" and result.get("guard") == "1", f"bounded and terminated: {result}")
    check(result.get("length") == (str(length) if fits else "0"), f"text length: {result}")

# --- retirement of the previous installation ------------------------------------
drive_c = os.path.join(args.prefix, "drive_c")
apps = os.path.join(drive_c, "TembraTestApps")
shutil.rmtree(apps, ignore_errors=True)
rng = random.Random(4)


def make_install(name):
    """A folder with files and a subfolder; returns {relative path: bytes}."""
    folder = os.path.join(apps, name)
    os.makedirs(os.path.join(folder, "data"))
    files = {"uninst.exe": rng.randbytes(3000), "log.isu": b"log\r\n", os.path.join("data", "big.bin"): rng.randbytes(200000)}
    for rel, data in files.items():
        with open(os.path.join(folder, rel), "wb") as f:
            f.write(data)
    return files


def intact(folder, files):
    return all(os.path.exists(os.path.join(folder, rel)) and open(os.path.join(folder, rel), "rb").read() == data
               for rel, data in files.items())


def retire(command):
    probe_run(probe, "set-uninstall", command)
    return probe_run(probe, "retire")


W = "C:\\TembraTestApps\\"
files = make_install("Prod")
retire(f'"{W}Prod\\uninst.exe"')
check(not os.path.exists(os.path.join(apps, "Prod")), "the quoted path's folder is moved away")
check(intact(os.path.join(apps, "Prod.old"), files), "to Prod.old, every file byte for byte")

files = make_install("Prod2")
retire(f'C:\\WIN\\uninst.exe -f"{W}Prod2\\log.isu"')
check(intact(os.path.join(apps, "Prod2.old"), files), "uninstaller, option and quoted log file: Prod2.old")

files = make_install("Prod3")
retire(f"{W}Prod3\\uninst.exe")
check(intact(os.path.join(apps, "Prod3"), files), "no quote: nothing happens")

retire('"uninst.exe"')
check(intact(os.path.join(apps, "Prod3"), files), "no backslash: nothing happens")

files = make_install("Prod4")
old_files = make_install("Prod4.old")
retire(f'"{W}Prod4\\uninst.exe"')
check(intact(os.path.join(apps, "Prod4.old.old"), files), "an existing Prod4.old gives Prod4.old.old")
check(intact(os.path.join(apps, "Prod4.old"), old_files), "and the older one stays as it was")

files = make_install("Prod5")
retire(f'"{W}Prod5\\' + "x" * 1100 + '\\uninst.exe"')
check(intact(os.path.join(apps, "Prod5"), files), "a command longer than 1040 bytes: nothing happens")

# --- installer start -----------------------------------------------------------------
launch_dir = os.path.join(args.work, "launch")
os.makedirs(launch_dir)
test_installer = os.path.join(args.windows_build, "test_installer.exe")
result = probe_run(probe, "launch", wine.unix_to_windows(test_installer), cwd=launch_dir)
check(result.get("result") == "1", f"the installer starts: {result}")
marker = os.path.join(launch_dir, "installer-ran.txt")
check(deadline_poll(lambda: os.path.exists(marker) and open(marker, "rb").read() == b"ran\r\n", 30),
      "the installer ran (its marker file appeared)")

page = os.path.join(launch_dir, "page.html")
with open(page, "wb") as f:
    f.write(b"<html><body>404 Not Found</body></html>\r\n")
result = probe_run(probe, "launch", wine.unix_to_windows(page), cwd=launch_dir)
check(result.get("result") == "0", f"an HTML page saved as tembset.exe is not started: {result}")

shutil.rmtree(apps, ignore_errors=True)
finish()
