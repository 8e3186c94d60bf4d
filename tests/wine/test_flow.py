"""The download manager flow's events on a recording double of its window,
under Wine, with real discovery, info file, worker, installer start and
retirement against servers on 127.0.0.1."""
import os
import shutil

from harness import (STATUS_TEXTS, Route, Site, Wine, check, deadline_poll, download_folders, finish, installer_image,
                     parse_args, parse_probe, previous_installation, unescape)

args = parse_args()
probe = os.path.join(args.windows_build, "tembra_probe.exe")
installer = open(os.path.join(args.windows_build, "test_installer.exe"), "rb").read()
wine = Wine(args.prefix)


def run_flow(name, events="-", language="ENG"):
    folder = os.path.join(args.work, name)
    os.makedirs(folder)
    code, out, err = wine.run(probe, ["flow", language, events], cwd=folder)
    check(code == 0, f"{name}: probe exited {code}: {err[-300:]}")
    ops = [line[3:] for line in out.splitlines() if line.startswith("op=")]
    return [unescape(op) for op in ops], parse_probe(out), folder


def statuses(ops):
    return [op[7:] for op in ops if op.startswith("status:")]


INIT = ["title:" + STATUS_TEXTS[1], "statusBox", "status:" + STATUS_TEXTS[2], "deselect", "park", "postStart"]

# Both servers unreachable.
before = download_folders(wine)
ops, result, folder = run_flow("servers-down")
check(ops[:len(INIT)] == INIT, f"INIT: title, status box, text 2, deselect, park, post START: {ops[:7]}")
check(ops[len(INIT):] == ["status:" + STATUS_TEXTS[3], "showOk"], f"both servers down: text 3 and OK: {ops}")
check("worker" not in ops and not any(op.startswith("timer") for op in ops), "no worker, no timer")
check(not os.path.exists(os.path.join(folder, "tembset.exe")) and download_folders(wine) == before,
      "no installer file created")

# Download base addresses too long for the 2,048-byte download address: as
# copied (2,100 characters), and once the installer file name (20 characters)
# is appended (2,030). Both count as an unusable answer.
for length in (2100, 2030):
    padded = "http://127.0.0.1:1/" + "d" * (length - 20) + "/"
    site = Site(args, announced_base=lambda base: padded)
    ops, result, folder = run_flow(f"long-base-{length}")
    check(ops[len(INIT):] == ["status:" + STATUS_TEXTS[3], "showOk"], f"base of {length}: text 3: {ops[len(INIT):]}")
    check(site.fetched() == [], "nothing is fetched from a refused address")
    site.close()

# Download addresses of other schemes carry no status or length to check.
for base in ("ftp://127.0.0.1:1/files/", "file://C:/files/"):
    site = Site(args, announced_base=lambda _: base)
    ops, result, folder = run_flow("scheme-" + base.split(":")[0])
    check(ops[len(INIT):] == ["status:" + STATUS_TEXTS[3], "showOk"], f"base {base}: text 3: {ops[len(INIT):]}")
    site.close()

# A base address that just fits: 2,027 characters, the 20 of the file name
# and the terminator.
site = Site(args, announced_base=lambda base: base + "x" * (2026 - len(base)) + "/")
ops, result, folder = run_flow("long-base-fits")
check("worker" not in ops and ops[len(INIT):] == ["status:" + STATUS_TEXTS[4], "showOk"],
      f"a base that fits goes on to the info file (not published: text 4): {ops[len(INIT):]}")
check(len(site.fetched()) == 1 and site.fetched()[0].endswith("ENG.ENG"), f"info file asked: {site.fetched()}")
site.close()

# Info file with total size 0.
site = Site(args)
site.publish("ENG", Route(b"0\nnews"), Route(installer))
ops, result, folder = run_flow("size-zero")
check(ops[len(INIT):] == ["status:" + STATUS_TEXTS[4], "showOk"], f"size 0: text 4: {ops[len(INIT):]}")
check("worker" not in ops, "and no worker")
check(site.fetched() and all(not f.endswith(".exe") for f in site.fetched()), f"no installer asked: {site.fetched()}")
check(len(site.config_paths()) == 2, f"discovery followed the redirect: {site.config_paths()}")
site.close()

# The worker fails (the installer answers 404); ticks arrive afterwards.
site = Site(args)
site.publish("ENG", Route(b"100\nfirst\nsecond\n"), Route(b"gone", status=404))
ops, result, folder = run_flow("worker-fails", "tick:999,tick:123,destroy")
after = ops[ops.index("worker"):]
check(after[:2] == ["worker", "timer:123"], f"worker, then the ticker timer: {after[:3]}")
finished = after.index("finished:0") if "finished:0" in after else -1
check(finished > 0 and after[finished + 1:finished + 4] == ["kill:123", "status:" + STATUS_TEXTS[5], "showOk"],
      f"failure: timer killed, text 5 over the ticker, OK: {after[finished:finished + 4]}")
foreign = ops.index("event:tick:999")
check(ops[foreign + 1] == "event:tick:123", f"a tick of another timer changes nothing: {ops[foreign:foreign + 2]}")
tick = ops.index("event:tick:123")
check(ops[tick + 1].startswith("status:") and ops[tick + 1] != "status:" + STATUS_TEXTS[5] and ops[tick + 2] == "park",
      f"a tick after FINISHED is still acted on: {ops[tick:tick + 3]}")
check(result.get("buffers") == "0", "DESTROY frees the buffers")
check([f for f in site.fetched() if f.endswith(".exe")] == ["p_Vrimal_sys_ENG.exe"], f"a 404 is not asked again: {site.fetched()}")
site.close()

# The installer is an HTML page: it cannot start, the previous installation stays.
UNINSTALL_FOLDER, _ = previous_installation(wine, probe, args.work, "TembraFlowPrevious")
site = Site(args)
site.publish("ENG", Route(b"40\nnews\n"), Route(b"<html><body>Sorry</body></html>"))
ops, result, folder = run_flow("launch-fails")
texts = statuses(ops)
check(texts[-2:] == [STATUS_TEXTS[6], STATUS_TEXTS[7]], f"text 6, then text 7: {texts[-2:]}")
check(ops[-1] == "showOk" and "repaint" in ops, f"OK shown: {ops[-3:]}")
check(os.path.isdir(UNINSTALL_FOLDER) and not os.path.exists(UNINSTALL_FOLDER + ".old"),
      "the previous installation is not moved")
site.close()

# The whole road, in Swedish.
UNINSTALL_FOLDER, _ = previous_installation(wine, probe, args.work, "TembraFlowPrevious")
site = Site(args)
news = b"".join(b"line %d\r\n" % i for i in range(5))
body = installer + os.urandom(300000)
site.publish("SWE", Route(b"%d\r\n" % len(body) + news), Route(body, chunks=[30000] * 20, delay=0.2))
before = set(download_folders(wine))
ops, result, folder = run_flow("success", language="SWE")
check(ops[-1] == "end:1", f"the window ends with 1: {ops[-3:]}")
check(statuses(ops)[-1] == STATUS_TEXTS[6], "text 6 before the installer starts")
views = [t for t in statuses(ops) if t.startswith("line")]
check(len(set(views)) >= 2, f"the news text rotates: {len(views)} ticks, {len(set(views))} views")
redraws = [int(op[7:]) for op in ops if op.startswith("redraw:")]
check(redraws and redraws == sorted(redraws) and redraws[-1] == len(body), f"progress redrawn up to the body: {redraws[-1:]}")
check(any(f.endswith("SWE.exe") for f in site.fetched()), f"the Swedish package: {site.fetched()}")
check(os.path.isdir(UNINSTALL_FOLDER + ".old") and not os.path.exists(UNINSTALL_FOLDER),
      "the previous installation is moved aside")
marker = os.path.join(folder, "installer-ran.txt")
check(deadline_poll(lambda: os.path.exists(marker), 30), "the installer ran")
check(installer_image(folder) == body, "the installer that ran is what was served")
check(not os.path.exists(os.path.join(folder, "tembset.exe")) and set(download_folders(wine)) <= before,
      "nothing was written into the current directory, and the private folder is gone once the installer ended")
site.close()

shutil.rmtree(UNINSTALL_FOLDER + ".old", ignore_errors=True)
finish()
