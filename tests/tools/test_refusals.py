"""Every refusal of the host tool: one error line that names the file or
option and the reason, exit 1, and the target (folder or file) byte for
byte as it was; plus the targets that must mean the same folder (usage:
test_refusals.py TOOL WORK)."""
import os
import resource
import shutil
import signal
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tool_testing import check, failures, tool_and_work, make_pe  # noqa: E402

TOOL, WORK = tool_and_work(sys.argv)
ENV = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}


def path(name):
    return os.path.join(WORK, name)


def write(name, data):
    with open(path(name), "wb") as f:
        f.write(data)
    return path(name)


def snapshot(target):
    if not os.path.lexists(target):
        return None
    if not os.path.isdir(target):
        return open(target, "rb").read() if os.path.isfile(target) else "special"
    return {os.path.relpath(os.path.join(d, n), target): open(os.path.join(d, n), "rb").read()
            for d, _, names in os.walk(target) for n in names}


def run(*args, cwd=WORK, preexec=None, stdin=None, stdout=subprocess.PIPE):
    return subprocess.run([TOOL, *args], cwd=cwd, env=ENV, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          timeout=30, preexec_fn=preexec, text=True)


EXE = write("setup.exe", make_pe(b"setup" * 300))
news = write("news.txt", b"news\n")
folder = path("a-folder")
os.makedirs(folder)
fifo = path("a-fifo")
os.mkfifo(fifo)
truncated = write("truncated.exe", make_pe(b"setup" * 300)[:0x300])
sparse = path("huge.exe")
with open(sparse, "wb") as f:
    f.truncate(2 ** 31)  # 2 GiB, one byte more than the program counts

# A certificate table that claims the headers: offset 0x100, up to the end.
overlap = bytearray(make_pe(b"x") + struct.pack("<IHH", 16, 0x200, 2) + b"\0" * 8)
struct.pack_into("<II", overlap, 0x40 + 24 + 96 + 8 * 4, 0x100, len(overlap) - 0x100)
overlapping = write("overlapping.exe", bytes(overlap))
plain = write("plain.exe", make_pe(b"plain"))
noid = write("setup-noid.exe", make_pe(b"no id"))
site = path("site")


def publish(*extra, out=site, primary="http://127.0.0.1:8/cfg/primary", fallback="http://127.0.0.1:8/cfg/fallback",
            base="http://127.0.0.1:9/files/", installer=EXE, news_file=news):
    args = ["publish", out]
    for flag, value in (("--primary", primary), ("--fallback", fallback), ("--download-base", base),
                        ("--news", news_file), ("--installer", installer)):
        if value is not None:
            args += [flag, value]
    return args + list(extra)


# --- The same folder, however it is written; an earlier tree is replaced ---------------------
for spelled, cwd in (("site", WORK), ("site/", WORK), ("site/.", WORK), (".", site), ("../site/", site)):
    before = snapshot(site) if os.path.isdir(site) else None
    result = run(*publish(out=spelled), cwd=cwd)
    after = snapshot(site)
    check(result.returncode == 0 and after and "manifest.json" in after and "cfg/primary" in after,
          f"publish {spelled!r} from {os.path.basename(cwd)} writes the tree in place: {result.stderr}")
    check(before is None or before == after, f"publish {spelled!r} gives the same tree again")
    check(sorted(os.listdir(WORK)).count("site") == 1 and not [n for n in os.listdir(WORK) if "publishing" in n]
          and not [n for n in os.listdir(site) if n.startswith(".")],
          f"publish {spelled!r}: no staging folder left, beside or inside")
published = snapshot(site)

# --- Refusals ------------------------------------------------------------------------------
# (name, arguments, target that must stay as it was, what the one line holds)
CASES = [
    ("installer is a folder", publish(installer=folder), site, f"the installer {folder}: is a folder"),
    ("news is a folder", publish(news_file=folder), site, f"the news text {folder}: is a folder"),
    ("installer is a fifo", publish(installer=fifo), site, f"the installer {fifo}: is a fifo"),
    ("news is a fifo", publish(news_file=fifo), site, f"the news text {fifo}: is a fifo"),
    ("installer truncated", publish(installer=truncated), site, f"{truncated} is not a whole Windows executable"),
    ("installer over 2 GiB", publish(installer=sparse), site, "2147483648 bytes, more than the program can count"),
    ("refusal given as site/", publish(out="site/", installer=truncated), site, "not a whole Windows executable"),
    ("refusal given as .", ["-C", site, "publish", "."] + publish(installer=folder)[2:], site, "is a folder"),
    ("manifest path", publish(primary="http://127.0.0.1:8/manifest.json"), site, "where the tree keeps its manifest"),
    ("encoded slash", publish(primary="http://127.0.0.1:8/cfg%2Fx"), site, "percent-encoded '/'"),
    ("encoded non-UTF-8", publish(base="http://127.0.0.1:9/%FF/"), site, "not UTF-8"),
    ("bad encoding", publish(primary="http://127.0.0.1:8/cfg%zz"), site, "malformed percent-encoding"),
    ("port 0", publish(primary="http://127.0.0.1:0/cfg/p"), site, "port that is not 1 to 65535"),
    ("port 65536", publish(fallback="http://127.0.0.1:65536/cfg/f"), site, "port that is not 1 to 65535"),
    ("port abc", publish(base="http://127.0.0.1:abc/files/"), site, "port that is not 1 to 65535"),
    ("empty port", publish(primary="http://127.0.0.1:/cfg/p"), site, "empty port"),
    ("empty host", publish(primary="http:///cfg/p"), site, "has no host"),
    ("empty host with port", publish(primary="http://:80/cfg/p"), site, "has no host"),
    ("base without /", publish(base="http://127.0.0.1:9/files"), site, "must end in '/'"),
    ("same path, two hosts", publish(primary="https://cfg1.example.com/tembra/answer",
                                     fallback="https://cfg2.example.com/tembra/answer"), site,
     "two files of the tree would both be tembra/answer"),
    ("repeated flag", publish("--news", news), site, "--news is given twice"),
    ("redirects ' 3'", publish("--redirects", " 3"), site, "--redirects takes 0 to 16, not ' 3'"),
    ("redirects +3", publish("--redirects", "+3"), site, "--redirects takes 0 to 16, not '+3'"),
    ("redirects 17", publish("--redirects", "17"), site, "--redirects takes 0 to 16, not '17'"),
    ("flag eaten as value", publish(primary="--fallback"), site, "--primary needs a value, not '--fallback'"),
    ("-v is no folder", ["publish", "-v"] + publish()[2:], site, "unknown option -v"),
    ("missing option", publish(news_file=None), site, "--news is required"),
    ("one variant only", publish(installer="sys:" + EXE), site, "installer for the sys variant but none for reg"),
    ("installer twice", publish("--installer", "DEU=" + EXE, "--installer", "DEU=" + plain), site,
     "an installer for every variant of DEU is already given"),
    ("output is a file", publish(out=plain), plain, "exists and is not a folder"),
    ("stamp random bytes", ["stamp", write("random.bin", os.urandom(4096)), path("out.exe"), "A", "B"],
     path("out.exe"), "not a Windows executable"),
    ("stamp 0 bytes", ["stamp", write("zero.exe", b""), plain, "A", "B"], plain, "zero.exe: not a Windows executable"),
    ("stamp truncated", ["stamp", truncated, plain, "A", "B"], plain, "truncated.exe: a PE section extends past"),
    ("stamp overlapping table", ["stamp", overlapping, plain, "A", "B"], plain, "overlaps the PE headers"),
    ("stamp a folder", ["stamp", folder, plain, "A", "B"], plain, f"{folder}: is a folder"),
    ("stamp a fifo", ["stamp", fifo, plain, "A", "B"], plain, f"{fifo}: is a fifo"),
    ("stamp onto a folder", ["stamp", EXE, folder + "/", "A", "B"], folder, f"{folder}: is a folder"),
    ("stamp into no folder", ["stamp", EXE, path("nowhere/x.exe"), "A", "B"], path("nowhere"),
     "nowhere/x.exe: No such file or directory"),
    ("empty ID part", ["stamp", EXE, plain, "A", ""], plain, "neither part of the ID may be empty"),
    ("ID with a control char", ["stamp", EXE, plain, "A\tB", "C"], plain, "visible ASCII"),
    ("ID with a blank", ["stamp", EXE, plain, "A", "B C"], plain, "visible ASCII"),
    ("'_' in first part", ["stamp", EXE, plain, "A_B", "C"], plain, "may not hold '_'"),
    ("first part too long", ["stamp", EXE, plain, "A" * 12, "C"], plain, "at most 11"),
    ("stamp extra argument", ["stamp", EXE, plain, "A", "B", "C"], plain, "unexpected argument 'C'"),
    ("read-id without ID", ["read-id", noid], noid, f"{noid}: no distribution ID"),
    ("read-id of a fifo", ["read-id", fifo], fifo, f"{fifo}: is a fifo"),
    ("read-id of a folder", ["read-id", folder], folder, f"{folder}: is a folder"),
    ("check of a folder", ["check", folder], folder, f"{folder}: not a regular file"),
    ("check of no manifest", ["check", path("none.json")], path("none.json"), "none.json: No such file or directory"),
    ("check of a non-manifest", ["check", news], news, f"{news}: not a manifest of tembra_tool publish"),
    ("check option twice", ["check", news, "--ca", news, "--ca", news], news, "--ca is given twice"),
    ("unknown command", ["frobnicate"], site, "unknown command frobnicate"),
]
for name, args, target, expected in CASES:
    before = snapshot(target)
    cwd = WORK
    if args[0] == "-C":  # run in another folder
        cwd, args = args[1], args[2:]
    result = run(*args, cwd=cwd)
    lines = result.stderr.splitlines()
    check(result.returncode == 1 and len(lines) == 1 and expected in lines[0],
          f"{name}: exit 1 with one line holding {expected!r}: {result.returncode} {result.stderr!r}")
    check(snapshot(target) == before, f"{name}: {os.path.relpath(target, WORK)} is as it was")
check(snapshot(site) == published, "the published tree survived every refusal")

# --- Failed writes: the system's reason, nothing replaced -------------------------------------
big = write("big.exe", make_pe(os.urandom(1 << 20)))
original = open(big, "rb").read()


def file_size_limit():
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past the limit fails with EFBIG instead
    resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 10, 64 << 10))


result = run("stamp", big, big, "FULL", "DISK", preexec=file_size_limit)
check(result.returncode == 1 and result.stderr.splitlines() == [f"tembra_tool stamp: {big}: File too large"],
      f"a stamp onto itself past the file-size limit names the file and the reason: {result.stderr!r}")
check(open(big, "rb").read() == original and not [n for n in os.listdir(WORK) if ".tmp-" in n],
      "the input is intact and no temporary file is left")
with open(news, "rb") as source, open("/dev/full", "wb") as full:
    result = subprocess.run([TOOL, "scramble"], stdin=source, stdout=full, stderr=subprocess.PIPE, text=True,
                            env=ENV, timeout=30)
check(result.returncode == 1 and result.stderr == "tembra_tool scramble: standard output: No space left on device\n",
      f"scramble to a full disk says so: {result.returncode} {result.stderr!r}")

# --- A trailer is only replaced where a stamp can lie -----------------------------------------
ends_dlid = write("ends-dlid.exe", make_pe(b"x" * (0x200 - 4) + b"DLID"))
result = run("stamp", ends_dlid, path("dlid-stamped.exe"), "A", "B")
stamped = open(path("dlid-stamped.exe"), "rb").read()
unstamped = open(ends_dlid, "rb").read()
checksum = 0x40 + 24 + 64  # the PE checksum is set by every stamp
check(result.returncode == 0 and len(stamped) == len(unstamped) + 35
      and stamped[:checksum] + stamped[checksum + 4:-35] == unstamped[:checksum] + unstamped[checksum + 4:],
      "a section that merely ends in DLID keeps its bytes; the trailer is added")

# --- --help everywhere ------------------------------------------------------------------------
for command in ("", "scramble", "descramble", "stamp", "read-id", "publish", "check"):
    result = run(*([command] if command else []), "--help")
    check(result.returncode == 0 and result.stdout.startswith("usage:") and result.stderr == "",
          f"tembra_tool {command} --help: usage on stdout, exit 0: {result.returncode} {result.stderr!r}")

print(f"{len(CASES)} refusals, {len(failures)} failed checks")
sys.exit(1 if failures else 0)
