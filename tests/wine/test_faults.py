"""The real program (built with shortened network timeouts) against servers
that misbehave on purpose: each case a server behaviour and the text the
window must end in, within a bound, with the previous installation intact
or moved whole. The release build's own timeouts are checked first."""
import os
import shutil
import socket
import struct
import threading
import time
import urllib.parse

from harness import (STARTED, Automation, Wine, Xvfb, check, check_previous, downloading, finish, parse_args, parse_probe,
                     previous_installation, read_cache, read_request_head, run_to_outcome, scramble, serve_connections,
                     use_virtual_desktop)

args = parse_args()
build = args.windows_build
probe = os.path.join(build, "tembra_probe.exe")

# --- The release build's timeouts ---------------------------------------------------------
xvfb = Xvfb(args.work)
wine = Wine(args.prefix, display=xvfb.display)
_, out, _ = wine.run(probe, ["timeouts"], cwd=args.work)
release = parse_probe(out)
check(release.get("set_connect") == "15000" and release.get("set_receive") == "30000"
      and release.get("fetch") == "30000" and release.get("server") == "45000" and release.get("stall") == "30000",
      f"the release build waits 15 s to connect, 30 s for bytes, 30 s per fetch, 45 s per server: {release}")
check(release.get("connect") == "15000", f"a root handle carries the connect timeout: {release.get('connect')}")
# Wine keeps no send or receive timeout on a root handle (it reads back 0) and honours none: the
# fetch deadline and the stall watchdog bound those waits.
print(f"root handle under Wine: connect={release.get('connect')} send={release.get('send')} "
      f"receive={release.get('receive')}")


# --- A server that misbehaves on purpose ----------------------------------------------
class FaultServer:
    """HTTP on 127.0.0.1 from raw sockets: each path answered by a behaviour
    (a function of the connection), one request per connection."""

    def __init__(self, port=0):
        self.routes, self.requests, self.stopping = {}, [], threading.Event()
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", port))
        self.sock.listen(32)
        self.port = self.sock.getsockname()[1]
        serve_connections(self.sock, self._serve)

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def _serve(self, conn):
        with conn:
            try:
                request = read_request_head(conn)
                if request is None:
                    return
                path = request.split(b" ")[1].decode("latin-1")
                self.requests.append(path)
                self.routes.get(path, answer(b"not found", status=404))(conn, self.stopping)
            except OSError:
                pass

    def close(self):
        self.stopping.set()
        self.sock.close()


def head(status=200, framing="length", length=0):
    fields = {"length": f"Content-Length: {length}\r\n", "chunked": "Transfer-Encoding: chunked\r\n", "close": ""}
    return (f"HTTP/1.1 {status} X\r\nContent-Type: application/octet-stream\r\n{fields[framing]}"
            "Connection: close\r\n\r\n").encode()


def encode(body, framing):
    if framing != "chunked":
        return body
    return b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + 8192]), body[i:i + 8192]) for i in range(0, len(body), 8192))


def answer(body, status=200, framing="length"):
    def behaviour(conn, _):
        conn.sendall(head(status, framing, len(body)) + encode(body, framing) + (b"0\r\n\r\n" if framing == "chunked" else b""))
    return behaviour


def cut(body, framing, at, reset):
    """Sends the body's first at bytes, then closes cleanly or with a reset."""
    def behaviour(conn, _):
        conn.sendall(head(200, framing, len(body)) + encode(body[:at], framing))
        if reset:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            conn.shutdown(socket.SHUT_WR)
    return behaviour


def endless():
    """A chunked body that never ends."""
    def behaviour(conn, stopping):
        conn.sendall(head(200, "chunked"))
        piece = encode(os.urandom(8192), "chunked")
        while not stopping.is_set():
            conn.sendall(piece)
    return behaviour


def stall(body=None, at=0):
    """Silence: no answer at all (body None), or the headers and at bytes of the body."""
    def behaviour(conn, stopping):
        if body is not None:
            conn.sendall(head(200, "length", len(body)) + body[:at])
        stopping.wait(120)
    return behaviour


# --- The cases ----------------------------------------------------------------------------
installer = open(os.path.join(build, "test_installer.exe"), "rb").read() + os.urandom(1024 * 1024)
INFO = b"%d\r\nfault news\r\nsecond line\r\n" % len(installer)
primary_url, fallback_url = read_cache(build, "TEMBRA_PRIMARY_SERVER"), read_cache(build, "TEMBRA_FALLBACK_SERVER")
CONFIG_PATHS = [urllib.parse.urlsplit(u).path for u in (primary_url, fallback_url)]
downloads = FaultServer()
BASE = downloads.url("/files/")
final = lambda base=BASE: answer(scramble(args.tool, f"iFlag=0|sDlurl={base}"))
CUT = 300000
# name, (primary, fallback) behaviours, info, installer, outcome, bound in seconds, extra set-up.
# A body cut short is tried four times (0.2 + 0.4 + 0.8 s between in this
# variant, 2 + 4 + 8 s in the program).
CASES = [
    ("both configuration servers silent", (stall(), stall()), None, None, 3, 20),
    ("configuration headers, then a stalled body", (stall(b"x" * 5000, 20), None), None, None, 3, 20),
    ("a redirect loop between the two servers",
     (answer(scramble(args.tool, f"iFlag=1|sUrl={fallback_url}")),
      answer(scramble(args.tool, f"iFlag=1|sUrl={primary_url}"))), None, None, 3, 30),
    ("a 1 MiB configuration answer", (answer(scramble(args.tool, f"iFlag=0|sDlurl={BASE}|sPad=" + "p" * (1 << 20))),
                                      None), answer(INFO), answer(installer), STARTED, 30),
    ("an sDlurl of 30,000 characters", (final("http://127.0.0.1/" + "d" * 30000), None), None, None, 3, 20),
    ("info size 0", (final(), None), answer(b"0\r\nnews\r\n"), answer(installer), 4, 20),
    ("info size negative", (final(), None), answer(b"-5\r\nnews\r\n"), answer(installer), 4, 20),
    ("info size 2^32", (final(), None), answer(b"4294967296\r\nnews\r\n"), answer(installer), 4, 20),
    ("a news text of 21,990 bytes", (final(), None),
     answer(b"%d\r\n" % len(installer) + (b"n" * 98 + b"\r\n") * 219 + b"n" * 90), answer(installer), STARTED, 30),
    ("installer headers, then a stalled body", (final(), None), answer(INFO), stall(installer, 0), 5, 20),
    ("a stall mid-download", (final(), None), answer(INFO), stall(installer, CUT), 5, 20),
    ("chunked body cut by a clean close", (final(), None), answer(INFO), cut(installer, "chunked", CUT, False), 5, 20),
    ("chunked body cut by a reset", (final(), None), answer(INFO), cut(installer, "chunked", CUT, True), 5, 20),
    ("close-delimited body cut by a clean close", (final(), None), answer(INFO), cut(installer, "close", CUT, False),
     5, 20),
    ("close-delimited body cut by a reset", (final(), None), answer(INFO), cut(installer, "close", CUT, True), 5, 20),
    ("a whole chunked body", (final(), None), answer(INFO), answer(installer, framing="chunked"), STARTED, 30),
    ("a chunked body that never ends", (final(), None), answer(INFO), endless(), 5, 30),
    ("no private download folder can be made", (final(), None), answer(INFO), answer(installer), 5, 20),
    ("an UninstallString of 100,000 bytes", (final(), None), answer(INFO), answer(installer), STARTED, 30),
]

use_virtual_desktop(wine)
auto = Automation(wine, build, args.work)
program = os.path.join(build, "tembra_short_timeouts.exe")
configs = [FaultServer(urllib.parse.urlsplit(u).port) for u in (primary_url, fallback_url)]
durations = []
for number, (name, config, info, body, outcome, bound) in enumerate(CASES):
    folder = os.path.join(args.work, f"case{number}")
    os.makedirs(folder)
    for server, behaviour, path in zip(configs, config, CONFIG_PATHS):
        server.routes = {path: behaviour} if behaviour else {}
    downloads.routes = {}
    for prefix in ("p_Vrimal_reg_", "p_Vrimal_sys_"):
        if info:
            downloads.routes[f"/files/{prefix}ENG.ENG"] = info
        if body:
            downloads.routes[f"/files/{prefix}ENG.exe"] = body
    previous, files = previous_installation(wine, probe, args.work, "TembraFault")
    temp = os.path.join(args.prefix, "drive_c", "windows", "temp")
    if "private download folder" in name:  # a file where the system's temporary folder should be
        os.rename(temp, temp + ".away")
        open(temp, "w").close()

    if "UninstallString" in name:
        with open(os.path.join(folder, "uninstall.txt"), "w") as f:
            f.write('"C:\\TembraFault\\' + "u" * 99970 + '\\uninst.exe"')
        wine.run(probe, ["set-uninstall", "@" + wine.unix_to_windows(os.path.join(folder, "uninstall.txt"))],
                 cwd=folder)
    shutil.copy(program, os.path.join(folder, "tembra.exe"))
    started = time.monotonic()
    process = wine.start(os.path.join(folder, "tembra.exe"), cwd=folder)
    largest = [0]
    if "never ends" in name:  # the disk use, watched while the body flows
        def watch(running=process):
            while running.poll() is None:
                largest[0] = max(largest[0], len(downloading(wine)))
                time.sleep(0.02)
        threading.Thread(target=watch, daemon=True).start()
    auto.choose()
    run_to_outcome(auto, process, folder, outcome, bound, name)
    if "private download folder" in name:
        os.remove(temp)
        os.rename(temp + ".away", temp)
    if "never ends" in name:
        check(0 < largest[0] <= len(installer) + 1024 * 1024,
              f"{name}: at most the info file's size and 1 MiB on disk: {largest[0]}")
    durations.append((name, time.monotonic() - started))
    check_previous(previous, files, outcome == STARTED and "UninstallString" not in name, name)

for name, seconds in durations:
    print(f"{seconds:5.1f} s  {name}")
for server in configs + [downloads]:
    server.close()
finish()
