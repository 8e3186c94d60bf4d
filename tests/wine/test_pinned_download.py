"""Downloads pinned by the configuration answer (the installer's size and
SHA-256): kept across runs and resumed, checked whole before they start,
carried through outages by the rule of progress, fetched from mirrors, and
accepted over plain http by a build that wants https. The real program
(built with shortened waits) and the flow probe under Wine, nginx serving
the installer behind the tests' relay (tests/wine/relay.py)."""
import hashlib
import os
import shutil
import struct
import sys
import time
import urllib.parse

from harness import (STARTED, STATUS_TEXTS, Automation, Route, TestServer, Wine, Xvfb, check, deadline_poll,
                     download_folders, finish, free_port, installer_image, parse_args, parse_probe, read_cache,
                     registry_default, run_to_outcome, scramble, support_log, unescape, use_virtual_desktop)
from relay import Relay

args = parse_args()
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import serve_site  # noqa: E402

build, work = args.windows_build, args.work
probe = os.path.join(build, "tembra_probe.exe")
xvfb = Xvfb(work)
wine = Wine(args.prefix, display=xvfb.display)
use_virtual_desktop(wine)
auto = Automation(wine, build, work)
test_installer = open(os.path.join(build, "test_installer.exe"), "rb").read()
MIB = 1024 * 1024
NAMES = ("p_Vrimal_reg_ENG", "p_Vrimal_sys_ENG")
LIST_KEY = "HKLM\\" + read_cache(build, "TEMBRA_REGISTRY_KEY") + "\\Downloads"
primary_url = urllib.parse.urlsplit(read_cache(build, "TEMBRA_PRIMARY_SERVER"))
config = TestServer(primary_url.port)


def installer_of(size, seed):
    """The test installer padded to size bytes (a PE file with an overlay)."""
    pad = size - len(test_installer)
    return test_installer + bytes((seed * 7 + i * 13) & 0xFF for i in range(256)) * (pad // 256) + b"\0" * (pad % 256)


def pin_of(body):
    return f"{len(body)}:{hashlib.sha256(body).hexdigest()}"


def answer(base, pin=None, mirrors=()):
    """The primary's final answer: the download base, the mirrors, and for
    both package variants the pin (the bytes' pin, or a given text)."""
    fields = ["iFlag=0", f"sDlurl={base}"] + [f"sMirror{i}={m}" for i, m in enumerate(mirrors, 1)]
    if pin is not None:
        fields += [f"sPin_{name}.exe={pin if isinstance(pin, str) else pin_of(pin)}" for name in NAMES]
    config.reset({primary_url.path: Route(scramble(args.tool, "|".join(fields)))})


class Download:
    """nginx serving body (as both variants) from a tree of the case's own,
    behind a relay with plan; served is what nginx holds (other bytes than
    the pin's, say)."""

    def __init__(self, case, body, plan=(), served=None, rate=None):
        tree = os.path.join(work, case, "tree", "files")
        os.makedirs(tree)
        for name in NAMES:
            open(os.path.join(tree, name + ".ENG"), "wb").write(b"%d\r\nnews\r\n" % len(body))
            open(os.path.join(tree, name + ".exe"), "wb").write(served or body)
        port = free_port()
        self.nginx = serve_site.Site(os.path.dirname(tree), [port], run_dir=os.path.join(work, case, "nginx"),
                                     rate=rate)
        self.relay = Relay(port, plan)
        self.base = f"http://127.0.0.1:{self.relay.port}/files/"

    def close(self):
        self.relay.close()
        self.nginx.stop()


def folder_of(case, run=""):
    folder = os.path.join(work, case, "run" + run)
    os.makedirs(folder, exist_ok=True)
    return folder


def start_program(case, variant="tembra_short_timeouts"):
    """The real program (a variant of the build) in a folder of the case,
    past its language chooser; returns the process and the folder."""
    folder = folder_of(case, "-window")
    program = os.path.join(folder, "tembra.exe")
    shutil.copy(os.path.join(build, variant + ".exe"), program)
    process = wine.start(program, cwd=folder)
    auto.choose()
    return process, folder


def run_flow(case, run="2"):
    """The flow probe to its end: its ops, its report and its folder."""
    folder = folder_of(case, run)
    code, out, err = wine.run(probe, ["flow", "ENG", "-"], cwd=folder, timeout=150)
    check(code == 0, f"{case}: the flow ran: exit code {code}, {err[-300:]!r}, output ends {out[-200:]!r}")
    return [unescape(line[3:]) for line in out.splitlines() if line.startswith("op=")], parse_probe(out), folder


def started(case, ops, folder, body):
    check(ops[-1:] == ["end:1"], f"{case}: the installer started: {ops[-3:]}")
    check(deadline_poll(lambda: installer_image(folder) is not None, 20) and installer_image(folder) == body,
          f"{case}: byte for byte the pinned file")


def failed(case, ops):
    check(ops[-2:] == ["status:" + STATUS_TEXTS[5], "showOk"], f"{case}: text 5: {ops[-3:]}")


def kept():
    """The kept downloads: (folder, bytes of its partial file, its record's
    fields) for each private folder holding a record."""
    found = []
    for folder in download_folders(wine):
        record, partial = (os.path.join(folder, name) for name in ("tembset.rec", "tembset.exe"))
        if os.path.exists(record) and os.path.exists(partial):
            data = open(record, "rb").read()
            fields = struct.unpack_from("<4sIIIQ", data) if len(data) >= 24 else None
            found.append((folder, open(partial, "rb").read(), fields))
    return found


def listed_pin(folder):
    """The data of the folder's entry in the program's list."""
    return registry_default(wine, LIST_KEY, os.path.basename(folder))


def forget_kept():
    for folder in download_folders(wine):
        shutil.rmtree(folder, ignore_errors=True)
    wine.reg("delete", LIST_KEY, "/va", "/f")


def range_of(headers):
    return headers.get("range"), "if-range" in headers


def end_run_at(case, download, cut, how):
    """Starts the program, and once it has written about cut bytes of the
    file ends it: OK (command 1) or a kill of its process. Returns the bytes
    it kept: a little less than cut, since Wine's WinINet holds back the
    bytes of a read that it could not fill."""
    process, _ = start_program(case)
    check(download.relay.held.wait(60), f"{case}: the relay held the transfer at {cut}")
    check(deadline_poll(lambda: any(len(data) > cut - 64 * 1024 for _, data, _ in kept()), 20),
          f"{case}: about {cut} bytes and a record in the private folder: {[(len(d), f) for _, d, f in kept()]}")
    if how == "ok":
        auto("click", Automation.MANAGER, "1")
    else:
        process.kill()
    check(deadline_poll(lambda: process.poll() is not None, 20), f"{case}: the program ended ({how})")
    left = kept()
    return len(left[0][1]) if left else 0


forget_kept()
began = time.monotonic()
body = installer_of(4 * MIB, 1)
cut = int(len(body) * 0.4)

# --- Ended at 40 %, then resumed by the next run ------------------------------------------
for case, how in (("closed-at-40-percent", "ok"), ("killed-at-40-percent", "kill")):
    download = Download(case, body, [("hold", cut)])
    answer(download.base, body)
    kept_bytes = end_run_at(case, download, cut, how)
    left = kept()
    check(len(left) == 1 and left[0][1] == body[:kept_bytes] and kept_bytes > cut - 64 * 1024
          and left[0][2][0] == b"TDMR" and left[0][2][2] == len(body) and left[0][2][3] <= kept_bytes
          and listed_pin(left[0][0]) == pin_of(body),
          f"{case}: the partial file and its record stay, listed with the pin: {[(len(d), f) for _, d, f in left]}")
    download.relay.stopping.set()
    ops, result, folder = run_flow(case)
    started(case, ops, folder, body)
    requests = download.relay.exe_requests
    check(len(requests) == 2 and range_of(requests[1]) == (f"bytes={kept_bytes}-", True),
          f"{case}: the next run asks for the rest, with If-Range: {[range_of(r) for r in requests]}")
    check(download.relay.exe_body_bytes <= len(body) + 64 * 1024,
          f"{case}: {download.relay.exe_body_bytes} bytes sent in all for {len(body)}")
    redraws = [int(op[7:]) for op in ops if op.startswith("redraw:")]
    check(redraws and redraws[0] > kept_bytes, f"{case}: the bar starts at the bytes already there: {redraws[:1]}")
    check(result.get("execution_states") == "awake,sleep", f"{case}: awake once, cleared once: {result}")
    check(not kept() and not download_folders(wine), f"{case}: the folder goes once the installer has ended")
    print(f"{case}: cut at {cut}, resumed from {kept_bytes}, {download.relay.exe_body_bytes} bytes sent "
          f"for {len(body)}")
    download.close()

print(f"{time.monotonic() - began:.0f} s: ended and resumed")
# --- The kept file changed between the runs -------------------------------------------------
# A flipped byte shows only in the whole file's digest: the rest is fetched,
# the pin refuses the file, and it starts over from byte 0. A file cut below
# what its record says shows at once: it starts over without asking for the
# rest (nginx's rate stretches the first run, so that the record counts
# some bytes).
for case in ("flipped-byte", "truncated"):
    download = Download(case, body, [("hold", cut)], rate="1m" if case == "truncated" else None)
    answer(download.base, body)
    kept_bytes = end_run_at(case, download, cut, "kill")
    left = kept()
    if check(len(left) == 1, f"{case}: a kept download"):
        partial = os.path.join(left[0][0], "tembset.exe")
        recorded = left[0][2][3]
        if case == "flipped-byte":
            data = bytearray(left[0][1])
            data[kept_bytes // 2] ^= 0x01
            open(partial, "wb").write(data)
        else:
            check(recorded > 0, f"{case}: the record counts bytes: {recorded}")
            os.truncate(partial, recorded // 2)
    download.relay.stopping.set()
    ops, result, folder = run_flow(case)
    started(case, ops, folder, body)
    ranges = [range_of(r)[0] for r in download.relay.exe_requests[1:]]
    expected = [f"bytes={kept_bytes}-", None] if case == "flipped-byte" else [None]
    check(ranges == expected, f"{case}: {expected} asked by the next run: {ranges}")
    log = support_log(args.prefix) or ""
    check(("the file does not match its pin, starting over" in log) == (case == "flipped-byte"),
          f"{case}: the pin refused the resumed file only where a byte was flipped")
    download.close()

print(f"{time.monotonic() - began:.0f} s: changed between the runs")
# --- A server that sends other bytes than the pin's -----------------------------------------
case = "swapped-file"
download = Download(case, body, served=installer_of(len(body), 9))
answer(download.base, body)
ops, result, folder = run_flow(case, "")
failed(case, ops)
check(installer_image(folder) is None, f"{case}: nothing started")
check([range_of(r)[0] for r in download.relay.exe_requests] == [None, None]
      and download.relay.exe_body_bytes == 2 * len(body),
      f"{case}: exactly two whole transfers: {len(download.relay.exe_requests)}, {download.relay.exe_body_bytes}")
check(not kept() and not download_folders(wine), f"{case}: the wrong bytes are not kept")
check(result.get("execution_states") == "awake,sleep", f"{case}: awake once, cleared once: {result}")
download.close()

print(f"{time.monotonic() - began:.0f} s: swapped")
# --- The rule of progress: an outage in the middle, then one for good ------------------------
# The test build divides the waits and the 5-minute limit by 10 (30 s); the
# outage of 3 minutes is 18 s here.
LIMIT = 30
for case, outage, outcome in (("outage-of-3-minutes", 18, STARTED), ("down-for-good", None, 5)):
    download = Download(case, body, [("outage", cut, outage)])
    answer(download.base, body)
    process, folder = start_program(case)
    if outcome == STARTED:
        run_to_outcome(auto, process, folder, STARTED, 60, case)
        waits = [int(line.split("waiting ")[1].split()[0]) for line in (support_log(args.prefix) or "").splitlines()
                 if "download: waiting" in line]
        print(f"{case}: waits of {waits} ms, back after {outage} s")
        check(installer_image(folder) == body, f"{case}: byte for byte the pinned file")
        check(download.relay.exe_body_bytes <= len(body) + 64 * 1024 and
              range_of(download.relay.exe_requests[-1])[0] == f"bytes={cut}-",
              f"{case}: resumed when the server was back: {download.relay.exe_body_bytes} bytes, "
              f"{[range_of(r) for r in download.relay.exe_requests]}")
    else:
        shown = deadline_poll(lambda: auto.status() == STATUS_TEXTS[5], LIMIT + 20, 0.2)
        took = time.monotonic() - download.relay.outage_at
        check(shown and LIMIT - 0.5 <= took <= LIMIT + 8, f"{case}: text 5 after {took:.1f} s without a byte")
        print(f"{case}: text 5 {took:.1f} s after the last byte")
        run_to_outcome(auto, process, folder, 5, 5, case)
        left = kept()
        check(len(left) == 1 and left[0][1] == body[:cut] and left[0][2][3] == cut,
              f"{case}: the partial and a current record stay for a later run: {[(len(d), f) for _, d, f in left]}")
    download.close()

print(f"{time.monotonic() - began:.0f} s: outages")
# What the clean-up of a later run does with that kept download: a run
# without a pin spares it, a pinned run of another file removes it; one
# whose record is older than 7 days goes in any run.
site = Download("clean-up", installer_of(MIB, 3))
answer(site.base)
run_flow("clean-up", "-unpinned")
check(len(kept()) == 1, f"clean-up: a run without a pin spares a download kept for a later run")
folder = kept()[0][0]
record = bytearray(open(os.path.join(folder, "tembset.rec"), "rb").read())
written_at = struct.unpack_from("<Q", record, 16)[0]
struct.pack_into("<Q", record, 16, written_at - 8 * 24 * 3600 * 10 ** 7)
record[-32:] = hashlib.sha256(record[:-32]).digest()
open(os.path.join(folder, "tembset.rec"), "wb").write(record)
run_flow("clean-up", "-stale")
check(not kept() and not download_folders(wine), "clean-up: a download kept for over 7 days goes")
site.close()
forget_kept()

print(f"{time.monotonic() - began:.0f} s: clean-up")
# --- Mirrors -------------------------------------------------------------------------------
# A failed attempt moves on to the next base at once. The first base
# refusing connections or answering 404 is asked once; a pinned file cut on
# the first base goes on at the second from where it was, without If-Range
# (another server's validator); without a pin it starts over there.
small = installer_of(MIB, 4)
for case, first_plan, pinned, first_asks, second_range in (
        ("first-base-refusing", None, True, None, None),
        ("first-base-404", ["404"], True, 1, None),
        ("first-base-cut-pinned", [("reset", MIB // 2)], True, 1, (f"bytes={MIB // 2}-", False)),
        ("first-base-cut-unpinned", [("reset", MIB // 2)], False, 1, (None, False))):
    first = Download(case + "-first", small, first_plan) if first_plan else None
    second = Download(case, small)
    first_base = first.base if first else f"http://127.0.0.1:{free_port()}/files/"
    answer(first_base, small if pinned else None, [second.base])
    ops, result, folder = run_flow(case)
    started(case, ops, folder, small)
    log = support_log(args.prefix) or ""
    asked_first = log.count("download: asking " + first_base)
    check(asked_first == 1, f"{case}: the first base asked once: {asked_first}")
    if first:
        check(len(first.relay.exe_requests) == first_asks, f"{case}: {len(first.relay.exe_requests)} requests there")
    if second_range:
        check([range_of(r) for r in second.relay.exe_requests] == [second_range],
              f"{case}: the second base asked for {second_range}: {[range_of(r) for r in second.relay.exe_requests]}")
    for download in (first, second):
        if download:
            download.close()

print(f"{time.monotonic() - began:.0f} s: mirrors")
# --- A build that wants https downloads --------------------------------------------------
# A pin authenticates the file over plain http; without one the http://
# base is refused as before (text 3).
for case, pinned, outcome in (("https-build-pinned", True, STARTED), ("https-build-unpinned", False, 3)):
    download = Download(case, small)
    answer(download.base, small if pinned else None)
    process, folder = start_program(case, "tembra_https_download")
    run_to_outcome(auto, process, folder, outcome, 40, case)
    if outcome == STARTED:
        check(installer_image(folder) == small, f"{case}: byte for byte the pinned file")
    else:
        check(download.relay.exe_requests == [], f"{case}: nothing downloaded")
    download.close()

forget_kept()
config.close()
print(f"{time.monotonic() - began:.0f} s in all")
finish()
