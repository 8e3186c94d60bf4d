"""Package prefix rule on folders of real test libraries, ComposePackage on
Wine's system directory, the info file, and the download worker against an
HTTP server on 127.0.0.1."""
import glob
import os
import random
import shutil
import subprocess

from harness import Route, TestServer, Wine, check, finish, free_port, parse_args, parse_probe, unescape

args = parse_args()
probe = os.path.join(args.windows_build, "tembra_probe.exe")
libs = os.path.join(args.windows_build, "testlibs")
wine = Wine(args.prefix)
AGENT = "Tembra Download Manager"


def probe_run(*probe_args, cwd=None, env_extra=None):
    code, out, err = wine.run(probe, list(probe_args), cwd=cwd or args.work, env_extra=env_extra)
    check(code == 0, f"probe {probe_args[:1]} exited {code}: {err[-300:]}")
    return out, parse_probe(out)


# --- prefix rule on folders of test libraries ------------------------------
MINIMUM = {"mfc42.dll": "4_2", "msvcrt.dll": "4_20", "msvcrt40.dll": "4_10", "olepro32.dll": "4_2",
           "wininet.dll": "4_70"}
ORDER = list(MINIMUM)


def prefix_for(name, **changes):
    """Builds a folder from the minimum set with changes (None: absent)."""
    folder = os.path.join(args.work, "libs-" + name)
    os.makedirs(folder)
    for library, version in dict(MINIMUM, **{k.replace("_dll", ".dll"): v for k, v in changes.items()}).items():
        if version is not None:
            shutil.copy(os.path.join(libs, f"ver_{version}.dll"), os.path.join(folder, library))
    # Wine substitutes its own builtin library for a file of the same name,
    # even when only its version is read from an explicit path; a per-path
    # override makes it read the test library itself.
    windows_folder = wine.unix_to_windows(folder) + "\\"
    overrides = ",".join(windows_folder + library for library in ORDER) + "=n"
    out, _ = probe_run("prefix", windows_folder, env_extra={"WINEDLLOVERRIDES": overrides})
    lines = [(k, unescape(v)) for k, _, v in (line.partition("=") for line in out.splitlines())]
    prefix = [v for k, v in lines if k == "prefix"]
    reads = [v.rsplit("\\", 1)[-1] for k, v in lines if k == "read"]
    return (prefix[0] if prefix else None), reads


prefix, reads = prefix_for("minimum")
check(prefix == "p_Vrimal_reg_", f"all libraries at their minimum: {prefix}")
check(reads == ORDER, f"every row read in table order: {reads}")

prefix, reads = prefix_for("old-msvcrt", msvcrt_dll="4_10")
check(prefix == "p_Vrimal_sys_", f"msvcrt 4.10 is too old: {prefix}")
check(reads == ORDER[:2], f"the rule stops at msvcrt: {reads}")

prefix, reads = prefix_for("new-wininet", wininet_dll="5_0")
check(prefix == "p_Vrimal_reg_", f"wininet 5.0 passes (higher major, lower minor): {prefix}")

prefix, reads = prefix_for("new-mfc", mfc42_dll="5_0")
check(prefix == "p_Vrimal_reg_", f"mfc42 5.0 passes: {prefix}")

# olepro32 absent, and wininet a library that has no version at all: had the
# rule gone on, it would have read it.
prefix, reads = prefix_for("no-olepro", olepro32_dll=None, wininet_dll="none")
check(prefix == "p_Vrimal_sys_", f"a missing olepro32 gives sys: {prefix}")
check(reads == ORDER[:4], f"the rows after olepro32 are never inspected: {reads}")

prefix, reads = prefix_for("unversioned", msvcrt40_dll="none")
check(prefix == "p_Vrimal_sys_", f"a library without version information fails its row: {prefix}")
check(reads == ORDER[:3], f"and stops the rule: {reads}")

# --- ComposePackage on Wine's own system directory --------------------------
_, result = probe_run("compose", "http://dl.example/base/", "SWE")
prefix = result.get("system_prefix")
check(prefix in ("p_Vrimal_reg_", "p_Vrimal_sys_"), f"system prefix: {prefix}")
check(result.get("result") == "1", "compose succeeds")
check(result.get("url") == f"http://dl.example/base/{prefix}SWE.SWE", f"info file address: {result.get('url')}")
check(result.get("file") == f"{prefix}SWE.exe", f"installer file name: {result.get('file')}")
print(f"Wine's system directory gives {prefix}")

# --- info file ---------------------------------------------------------------
server = TestServer()
server.reset({"/i/ok": Route(b"1234\r\nHello\r\nWorld\r\n"), "/i/zero": Route(b"0\nnews")})
_, result = probe_run("info", server.url("/i/ok"))
check(result.get("result") == "1" and result.get("total") == "1234", f"info file parsed: {result}")
check(result.get("news") == "Hello\r\nWorld\r\n", f"news text kept as it is: {result.get('news')!r}")
_, result = probe_run("info", server.url("/i/zero"))
check(result.get("result") == "0", f"size 0 fails: {result}")
_, result = probe_run("info", f"http://127.0.0.1:{free_port()}/i")
check(result.get("result") == "0", f"an unreachable info file fails: {result}")

# --- download worker ---------------------------------------------------------
FILE = "p_Vrimal_reg_ENG.exe"


def worker(name, route=None, base=None, cwd=None, command=("worker",)):
    """Runs the worker in a fresh folder; returns its report and the file."""
    folder = cwd or os.path.join(args.work, "dl-" + name)
    os.makedirs(folder, exist_ok=True)
    if route is not None:
        server.reset({f"/files/{name}/{FILE}": route})
    _, result = probe_run(*command, base or server.url(f"/files/{name}/"), FILE, cwd=folder)
    # The probe puts the private download folder into its current directory.
    files = glob.glob(os.path.join(folder, "tembra-*", "tembset.exe"))
    data = open(max(files, key=os.path.getmtime), "rb").read() if files else None
    return result, data


body = bytes(random.Random(1).randrange(256) for _ in range(8192))
result, data = worker("two-reads", Route(body))
READ_SIZE, PAUSE_MS = int(result.get("read_size", "0")), int(result.get("pause_ms", "-1"))
reads = -(-len(body) // READ_SIZE)
check(result.get("messages") == "P1," * reads + "P1,F1", f"8192 bytes: {reads} full reads and an end read: {result}")
check(data == body, "the file is byte-identical")
check(result.get("downloaded") == "8192", f"count: {result.get('downloaded')}")
requests = list(server.requests)
check(len(requests) == 1 and requests[0][1].get("User-Agent") == AGENT, f"agent name sent: {requests}")

result, data = worker("two-reads", Route(body))
check(len(server.requests) == 1, "a second download asks the server again: no cached copy is used")
cached = [os.path.join(d, f) for d, _, files in os.walk(args.prefix) for f in files if "p_Vrimal" in f]
check(not cached, f"nothing is written to the internet cache: {cached}")

# The pause after each read: the throttling opt-out asked for once, then a
# high-resolution timer, or where the system has none, Sleep with the timer
# resolution raised to 1 ms for the worker's lifetime. No pause: nothing.
for mode in ("timer", "no-timer"):
    result, data = worker("paced-" + mode, Route(body), command=("worker-paced", mode))
    pauses = result.get("messages", "").count("P")
    if PAUSE_MS == 0:
        check(result.get("pacing") == "" and result.get("sleeps") == "0" and result.get("timer") == "",
              f"{mode}: no pause asks the system for nothing: {result}")
        continue
    check(result.get("pacing") == "t4:1/4/0,h2,", f"{mode}: opt-out (ProcessPowerThrottling, IGNORE_TIMER_RESOLUTION) "
          f"once, then a high-resolution timer: {result.get('pacing')}")
    timer_given = mode == "timer"
    check(result.get("sleeps") == ("0" if timer_given else str(pauses)) and pauses > 0,
          f"{mode}: {'no Sleep' if timer_given else 'one Sleep per read'}: {result}")
    check(result.get("timer") == ("" if timer_given else "b1e1"),
          f"{mode}: timer resolution {'left alone' if timer_given else 'raised and released once'}: {result}")
    check(data == body, f"{mode}: the file is byte-identical")

# A full queue refuses posts: the end of the transfer is posted again until it lands.
os.makedirs(os.path.join(args.work, "dl-refused"))
server.reset({f"/files/refused/{FILE}": Route(body)})
_, result = probe_run("worker-refused", "5", server.url("/files/refused/"), FILE, cwd=os.path.join(args.work, "dl-refused"))
check(result.get("refused") == "5" and result.get("messages") == "P1," * reads + "P1,F1",
      f"WM_DLM_FINISHED refused 5 times still arrives, once: {result}")

result, data = worker("empty", Route(b""))
check(result.get("messages") == "P1,F1", f"empty body: {result}")
check(data == b"", "an empty file")

result, data = worker("unreachable", base=f"http://127.0.0.1:{free_port()}/files/")
check(result.get("messages") == "F0", f"unreachable: no progress, finished 0: {result}")
check(data == b"", f"an empty file left behind: {data!r}"[:80])

big = random.Random(2).randbytes(3 * 1024 * 1024 + 123)
rng = random.Random(3)
pieces = [rng.choice([1, 100, 1500, 4095, 4097, 9000, 65536]) for _ in range(3000)]
result, data = worker("uneven", Route(big, chunks=pieces))
messages = result.get("messages", "").split(",")
check(messages[-1] == "F1" and all(m == "P1" for m in messages[:-1]), f"uneven pieces: {messages[-3:]}")
check(len(messages) - 1 >= len(big) // READ_SIZE + 1, f"one progress per read: {len(messages)}")
check(data == big, "a multi-MiB body arrives byte-identical")
check(result.get("downloaded") == str(len(big)), f"count equals the body length: {result.get('downloaded')}")

result, data = worker("error-page", Route(b"<html>gone</html>", status=404))
check(result.get("messages") == "F0", f"a 404 answer is a failed download: {result}")

result, data = worker("error-500", Route(b"oops", status=500))
check(result.get("messages") == "F0", f"a 500 answer is a failed download: {result}")

result, data = worker("dropped", Route(big, chunks=[65536] * 100, drop_after=200000))
check(result.get("finished") == "1", "a dropped connection ends the worker")
check(result.get("messages", "").endswith("F0"), f"a body cut off mid-way fails: {result.get('messages', '')[-20:]}")

# A write that fails: the current directory on a 64 KiB tmpfs, a 1 MiB body.
small_disk = os.path.join(args.work, "small-disk")
if os.path.ismount(small_disk):  # left over by an interrupted run
    subprocess.run(["umount", small_disk])
os.makedirs(small_disk, exist_ok=True)
mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", small_disk],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
check(mounted, "a 64 KiB tmpfs for the full disk (the tests run as root)")
try:
    result, data = worker("disk-full", Route(big[:1024 * 1024]), cwd=small_disk)
    messages = result.get("messages", "").split(",")
    check(messages[-2:] == ["P0", "F0"], f"a failed write: last progress and finished carry 0: {messages[-3:]}")
    check(int(result.get("downloaded", "0")) > 0, "the chunk that failed is still counted")
finally:
    if mounted:
        subprocess.run(["umount", small_disk])

server.close()
finish()
