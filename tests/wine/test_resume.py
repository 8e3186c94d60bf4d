"""A dropped download is tried again and resumed: the flow of the manager
under Wine with its real worker, nginx serving the installer (it honours
Range and sends an ETag) behind a relay of the test's own that drops, strips
or refuses installer requests on purpose."""
import os
import shutil
import sys
import threading
import time

from harness import (STATUS_TEXTS, Site, Wine, check, check_previous, deadline_poll, finish, free_port,
                     installer_image, parse_args, parse_probe, previous_installation, unescape)
from relay import Relay

args = parse_args()
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import serve_site  # noqa: E402

build, work = args.windows_build, args.work
probe = os.path.join(build, "tembra_probe.exe")
wine = Wine(args.prefix)
test_installer = open(os.path.join(build, "test_installer.exe"), "rb").read()
MIB = 1024 * 1024


def installer_of(size, seed):
    """The test installer padded to size bytes (a PE file with an overlay)."""
    pad = size - len(test_installer)
    return test_installer + bytes((seed * 7 + i * 13) & 0xFF for i in range(256)) * (pad // 256) + b"\0" * (pad % 256)


def run(case, body, plan, change_after_first=None):
    """The flow in a folder of its own against nginx behind a relay; returns
    the flow's ops, the relay, the folder and the seconds it took."""
    tree = os.path.join(work, case, "tree", "files")
    os.makedirs(tree)
    for prefix in ("p_Vrimal_reg_", "p_Vrimal_sys_"):
        open(os.path.join(tree, prefix + "ENG.ENG"), "wb").write(b"%d\r\nnews\r\n" % len(body))
        open(os.path.join(tree, prefix + "ENG.exe"), "wb").write(body)
    port = free_port()
    nginx = serve_site.Site(os.path.dirname(tree), [port], run_dir=os.path.join(work, case, "nginx"))
    relay = Relay(port, plan)
    config = Site(args, announced_base=lambda _: f"http://127.0.0.1:{relay.port}/files/")
    if change_after_first:
        def change():
            if deadline_poll(lambda: len(relay.exe_requests) >= 1, 60):
                for prefix in ("p_Vrimal_reg_", "p_Vrimal_sys_"):
                    path = os.path.join(tree, prefix + "ENG.exe")
                    open(path + ".new", "wb").write(change_after_first)
                    os.utime(path + ".new", (time.time() + 100, time.time() + 100))  # another ETag
                    os.replace(path + ".new", path)
        threading.Thread(target=change, daemon=True).start()
    folder = os.path.join(work, case, "downloads")
    os.makedirs(folder)
    began = time.monotonic()
    code, out, err = wine.run(probe, ["flow", "ENG", "-"], cwd=folder, timeout=150)
    took = time.monotonic() - began
    check(code == 0, f"{case}: the flow ran: {err[-300:]}")
    ops = [unescape(line[3:]) for line in out.splitlines() if line.startswith("op=")]
    run.result = parse_probe(out)
    config.close()
    relay.close()
    nginx.stop()
    return ops, relay, folder, took


def started_with(case, ops, folder, body):
    check(ops[-1:] == ["end:1"], f"{case}: the installer started: {ops[-3:]}")
    check(installer_image(folder) == body, f"{case}: byte for byte the served file")


# A connection reset at 40 % of 16 MiB: resumed where it broke.
body = installer_of(16 * MIB, 1)
cut = int(len(body) * 0.4)
ops, relay, folder, _ = run("reset-at-40-percent", body, [("reset", cut)])
started_with("reset", ops, folder, body)
second = relay.exe_requests[1] if len(relay.exe_requests) == 2 else {}
asked = second.get("range", "")
start = int(asked[len("bytes="):-1]) if asked.startswith("bytes=") and asked.endswith("-") else -1
check(start == cut, f"reset: the retry asks for the rest, from {start} (cut at {cut}): {second}")
check(second.get("if-range", "").startswith('"'), f"reset: with If-Range and the first answer's ETag: {second}")
check(relay.exe_body_bytes <= len(body) + 64 * 1024, f"reset: {relay.exe_body_bytes} bytes sent for {len(body)}")
print(f"cut at {cut}, resumed from {start}, {relay.exe_body_bytes} bytes sent for {len(body)}")
check(any(op.startswith("retrying:") for op in ops), "reset: the window is told of the wait")
# The machine is kept awake while the worker runs, across its waits: asked once, cleared once.
check(run.result.get("execution_states") == "awake,sleep",
      f"reset: ES_CONTINUOUS | ES_SYSTEM_REQUIRED set once, ES_CONTINUOUS once: {run.result.get('execution_states')}")

# The server ignores Range, or the file changed in between: the file starts
# over from byte 0.
body = installer_of(4 * MIB, 2)
ops, relay, folder, _ = run("range-ignored", body, [("reset", MIB), "strip-range"])
started_with("range ignored", ops, folder, body)
check(relay.exe_body_bytes >= MIB + len(body), f"range ignored: the whole file came again: {relay.exe_body_bytes}")
changed = installer_of(4 * MIB, 3)
ops, relay, folder, _ = run("file-changed", body, [("reset", MIB)], change_after_first=changed)
started_with("file changed", ops, folder, changed)

# A 503 with Retry-After: 1, then the file.
ops, relay, folder, _ = run("busy-then-served", body, ["busy"])
started_with("busy", ops, folder, body)
waits = [int(op[9:]) for op in ops if op.startswith("retrying:")]
check(waits == [1000], f"busy: Retry-After honoured: {waits}")

# Resets on every attempt: four attempts, then text 5 within 75 s, nothing moved.
previous, files = previous_installation(wine, probe, work, "TembraResumePrevious")
ops, relay, folder, took = run("reset-every-time", body, [("reset", 256 * 1024)] * 5)
check(ops[-2:] == ["status:" + STATUS_TEXTS[5], "showOk"], f"every attempt reset: text 5: {ops[-3:]}")
check(len(relay.exe_requests) == 4, f"after 4 attempts: {len(relay.exe_requests)}")
check(took < 75, f"within 75 s: {took:.0f} s")
print(f"reset on every attempt: text 5 after {took:.1f} s, waits {[w for w in (int(op[9:]) for op in ops if op.startswith('retrying:'))]} ms")
waits = [int(op[9:]) for op in ops if op.startswith("retrying:")]
check(len(waits) == 3 and all(lo <= w < lo + 1000 for w, lo in zip(waits, (2000, 4000, 8000))),
      f"waits of 2, 4 and 8 s, plus up to 1 s: {waits}")
check_previous(previous, files, False, "reset every time")
check(run.result.get("execution_states") == "awake,sleep",
      f"every attempt reset: awake once, cleared once: {run.result.get('execution_states')}")
shutil.rmtree(previous, ignore_errors=True)
finish()
