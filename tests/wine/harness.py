"""Shared pieces of the tests that run the Windows build under Wine.

Every test script gets the same arguments (see parse_args), runs Windows
programs in the project's own Wine prefix, serves HTTP on 127.0.0.1 and
counts failed checks with file:line, like Wine's own conformance tests.
"""
import argparse
import atexit
import http.server
import inspect
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib

import wine_platform

FAILURES = []
CHECKS = [0]


def check(condition, message=""):
    """Records a failed check with the caller's file:line and goes on."""
    CHECKS[0] += 1
    if not condition:
        frame = inspect.stack()[1]
        line = f"{os.path.basename(frame.filename)}:{frame.lineno}: check failed: {message}"
        FAILURES.append(line)
        print(line, flush=True)
    return bool(condition)


def finish():
    """Prints the tally and exits non-zero when any check failed."""
    print(f"{CHECKS[0]} checks, {len(FAILURES)} failed", flush=True)
    sys.exit(1 if FAILURES else 0)


def parse_args(extra=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True, help="the build tree whose programs run here")
    parser.add_argument("--shipped-build", help="the shipped 32-bit build tree (default: --windows-build)")
    parser.add_argument("--tool", required=True, help="host tembra_tool")
    parser.add_argument("--prefix", required=True, help="Wine prefix of the test run")
    parser.add_argument("--work", required=True, help="scratch folder of this test")
    if extra:
        extra(parser)
    args = parser.parse_args()
    args.shipped_build = args.shipped_build or args.windows_build
    for name in ("windows_build", "shipped_build", "tool", "prefix", "work"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work, exist_ok=True)
    return args


def deadline_poll(condition, timeout, interval=0.05):
    """Polls condition() until it is true or timeout seconds have passed."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= end:
            return value
        time.sleep(interval)


class Wine:
    """Runs programs in the test prefix; stops the prefix's wineserver at exit."""

    def __init__(self, prefix, display=None):
        self.prefix = prefix
        self.platform = wine_platform.current()
        self.command = wine_platform.wine_command(self.platform)
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        env.update(wine_platform.wine_environment(self.platform, prefix))
        env.pop("DISPLAY", None)
        if display:
            env["DISPLAY"] = display
        self.env = env
        atexit.register(self.stop)
        # A persistent wineserver saves its start-up on every program run.
        subprocess.run(["wineserver", "-p"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run(self, program, args=(), cwd=None, timeout=120, env_extra=None):
        """Runs a Windows program to its end. Output goes through files,
        since Wine's helper processes inherit and keep pipes open."""
        env = self.program_env(env_extra)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.run([*self.command, program, *args], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return proc.returncode, out.read().decode("latin-1"), err.read().decode("latin-1")

    def start(self, program, args=(), cwd=None, env_extra=None, log=None):
        env = self.program_env(env_extra)
        log = log or os.devnull
        handle = open(log, "ab")
        return subprocess.Popen([*self.command, program, *args], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                stdout=handle, stderr=subprocess.STDOUT)

    def program_env(self, env_extra=None):
        """The environment of a Windows program: the prefix's, env_extra, and
        where the build provides it the quick exit (quick_exit.c), so that a
        program keeps its exit code however slowly the machine lets it go."""
        env = dict(self.env, **(env_extra or {}))
        quick_exit = os.environ.get("TEMBRA_WINE_QUICK_EXIT")
        if quick_exit:
            env["LD_PRELOAD"] = " ".join(filter(None, [quick_exit, env.get("LD_PRELOAD")]))
        return env

    def reg(self, *args):
        code, out, _ = self.run("reg", list(args))
        return code, out

    def unix_to_windows(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def read_cache(build_dir, name):
    """A variable of a CMake build tree's cache."""
    with open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            key, sep, value = line.rstrip("\n").partition("=")
            if sep and key.split(":")[0] == name:
                return value
    return None


def parse_probe(output):
    """key=value lines of the probe, with \\xNN escapes undone."""
    values = {}
    for line in output.splitlines():
        key, sep, value = line.partition("=")
        if sep:
            values[key] = unescape(value)
    return values


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text.startswith("\\x", i) and i + 4 <= len(text):
            out.append(chr(int(text[i + 2:i + 4], 16)))
            i += 4
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


class Route:
    """What the test server answers on one path."""

    def __init__(self, body=b"", status=200, chunks=None, delay=0.0, drop_after=None):
        self.body = body if isinstance(body, bytes) else body.encode("latin-1")
        self.status = status
        self.chunks = chunks      # sizes to send the body in, with a flush between
        self.delay = delay        # seconds between chunks
        self.drop_after = drop_after  # close the connection after this many body bytes


class TestServer:
    """HTTP server on 127.0.0.1 that answers from a route table and records
    every request (path and headers)."""

    def __init__(self, port=0):
        self.routes = {}
        self.requests = []
        self.lock = threading.Lock()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                with owner.lock:
                    owner.requests.append((self.path, dict(self.headers.items())))
                    route = owner.routes.get(self.path)
                if route is None:
                    route = Route(b"<html>not found</html>", status=404)
                self.send_response(route.status)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(route.body)))
                self.end_headers()
                sizes = route.chunks or [len(route.body)]
                sent = 0
                try:
                    for size in sizes:
                        if sent >= len(route.body):
                            break
                        piece = route.body[sent:sent + size]
                        if route.drop_after is not None and sent + len(piece) > route.drop_after:
                            piece = piece[:route.drop_after - sent]
                            self.wfile.write(piece)
                            self.wfile.flush()
                            self.close_connection = True
                            self.connection.shutdown(socket.SHUT_RDWR)
                            return
                        self.wfile.write(piece)
                        self.wfile.flush()
                        sent += len(piece)
                        if route.delay:
                            time.sleep(route.delay)
                    if sent < len(route.body):
                        self.wfile.write(route.body[sent:])
                except (BrokenPipeError, ConnectionResetError):
                    pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def paths(self):
        with self.lock:
            return [p for p, _ in self.requests]

    def reset(self, routes=None):
        with self.lock:
            self.routes = dict(routes or {})
            self.requests = []

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def serve_connections(sock, serve):
    """Accepts on sock until it is closed, each connection handed to
    serve(conn) on a thread of its own."""
    def accept():
        while True:
            try:
                conn, _ = sock.accept()
            except OSError:
                return
            threading.Thread(target=serve, args=(conn,), daemon=True).start()
    threading.Thread(target=accept, daemon=True).start()


def read_request_head(conn):
    """The request's bytes up to and including its blank line; None when the
    connection ends first."""
    request = b""
    while b"\r\n\r\n" not in request:
        piece = conn.recv(65536)
        if not piece:
            return None
        request += piece
    return request


def request_head_fields(request):
    """A request head's lines (the request line first) and its headers,
    names in lower case."""
    lines = request.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
    headers = {k.strip().lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
    return lines, headers


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scramble(tool, plain):
    data = plain.encode("latin-1") if isinstance(plain, str) else plain
    return subprocess.run([tool, "scramble"], input=data, stdout=subprocess.PIPE, check=True).stdout


class Xvfb:
    """An X server of the test's own on a free display number."""

    def __init__(self, work):
        read_fd, write_fd = os.pipe()
        self.log = open(os.path.join(work, "xvfb.log"), "wb")
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], pass_fds=(write_fd,), stdout=self.log,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        os.close(write_fd)
        number = b""
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n"):
                byte = pipe.read(1)
                if not byte:
                    break
                number += byte
        self.display = ":" + number.decode().strip()
        atexit.register(self.stop)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()


STATUS_TEXTS = {
    1: "Downloading...",
    2: "Initializing...",
    3: "Failed to connect to download site.\r\nPlease try again later...",
    4: "Parsing error occured. Please contact\r\nus if this error persists.",
    5: "A network error occured while downloading software.\r\nPlease try again later...",
    6: "Preparing to run installation...",
    7: "Error starting tembra installation. Please contact\r\nus if this error persists.",
}
PREFIXES = ("p_Vrimal_reg_", "p_Vrimal_sys_")


class Site:
    """The configuration servers at the build's addresses (the primary
    redirecting once to a second answer of its own) and a download server
    holding the info file and installer of each published language, under
    both package prefixes."""

    def __init__(self, args, config_up=True, announced_base=None):
        self.download = TestServer()
        self.base = self.download.url("/files/")
        # announced_base(base) may make the address the servers announce
        # differ from where the files lie.
        announced_base = announced_base(self.base) if announced_base else self.base
        self.primary = None
        if config_up:
            address = urllib.parse.urlsplit(read_cache(args.windows_build, "TEMBRA_PRIMARY_SERVER"))
            self.primary = TestServer(address.port)
            redirect = f"http://127.0.0.1:{address.port}/redirect"
            self.primary.reset({
                address.path: Route(scramble(args.tool, f"iFlag=1|sUrl={redirect}")),
                "/redirect": Route(scramble(args.tool, f"iFlag=0|sDlurl={announced_base}")),
            })

    def publish(self, language, info, installer):
        for prefix in PREFIXES:
            self.download.routes[f"/files/{prefix}{language}.{language}"] = info
            self.download.routes[f"/files/{prefix}{language}.exe"] = installer

    def fetched(self):
        """Names of the files asked of the download server."""
        return [p.rsplit("/", 1)[-1] for p in self.download.paths()]

    def config_paths(self):
        return self.primary.paths() if self.primary else []

    def close(self):
        self.download.close()
        if self.primary:
            self.primary.close()


def capture_screen(display, rect):
    """The pixels an X server shows in rect (left, top, right, bottom), as
    rows of (r, g, b), read with xwd: what a user sees, window frames and
    captions included."""
    data = subprocess.run(["xwd", "-root", "-silent", "-display", display], stdout=subprocess.PIPE,
                          check=True).stdout
    header = struct.unpack_from(">25I", data, 0)
    header_size, byte_order, bits_per_pixel, bytes_per_line, colours = (header[0], header[7], header[11],
                                                                        header[12], header[19])
    pixel_bytes = bits_per_pixel // 8
    pixels = header_size + 12 * colours
    left, top, right, bottom = rect
    rows = []
    for y in range(top, bottom):
        row = []
        for x in range(left, right):
            at = pixels + y * bytes_per_line + x * pixel_bytes
            value = int.from_bytes(data[at:at + pixel_bytes], "little" if byte_order == 0 else "big")
            row.append(((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF))
        rows.append(row)
    return rows


def write_png(path, width, height, rows):
    """Writes rows of (r, g, b) as an 8-bit RGB PNG."""
    raw = b"".join(b"\0" + bytes(c for pixel in row for c in pixel) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def download_folders(wine):
    """The program's private download folders that exist in the prefix (an
    elevated run's, under the system's temporary folder), newest last."""
    temp = os.path.join(wine.prefix, "drive_c", "windows", "temp")
    names = os.listdir(temp) if os.path.isdir(temp) else []
    found = [os.path.join(temp, n) for n in names if re.fullmatch("tembra-[0-9a-f]{32}", n)]
    return sorted(found, key=os.path.getmtime)


def downloading(wine):
    """The bytes of the installer file being downloaded now (in the newest
    private folder), or b"" when there is none."""
    for folder in reversed(download_folders(wine)):
        path = os.path.join(folder, "tembset.exe")
        if os.path.exists(path):
            return open(path, "rb").read()
    return b""


def installer_image(folder):
    """What the stand-in installer started in folder ran as: a copy of its
    own file, or None when it did not run."""
    path = os.path.join(folder, "installer-image.bin")
    return open(path, "rb").read() if os.path.exists(path) else None


def run_repointed(wine, auto, build, base, program):
    """Runs program with a current directory that is a link (standing for a
    junction) to base/real1, re-pointed to base/real2, which holds another
    tembset.exe, the moment the program lets go of its writer for the start
    (a reader sharing only reading gets in). The program is started with the
    link's path as its current directory (Wine would resolve a Unix one).
    Returns the folders the installer left its markers in."""
    probe = os.path.join(build, "tembra_probe.exe")
    real1, real2, link = (os.path.join(base, n) for n in ("real1", "real2", "downloads"))
    for folder in (real1, real2):
        os.makedirs(folder, exist_ok=True)
    shutil.copy(os.path.join(build, "test_installer.exe"), os.path.join(real2, "tembset.exe"))
    os.symlink(real1, link)
    sealed = os.path.join(base, "sealed")
    waiter = wine.start(probe, ["await-sealed", wine.unix_to_windows(sealed), "90"], cwd=base)
    starter = wine.start(probe, ["start-in", wine.unix_to_windows(link), wine.unix_to_windows(program)], cwd=base)
    auto.choose()
    if check(deadline_poll(lambda: os.path.exists(sealed), 90, 0.005), "the file was held read-only for the start"):
        os.remove(link)
        os.symlink(real2, link)
    check(deadline_poll(lambda: starter.poll() is not None, 90), "the program ended")
    waiter.wait(30)
    return [f for f in (real1, real2) if os.path.exists(os.path.join(f, "installer-started.txt"))]


def previous_installation(wine, probe, work, name):
    """A previous installation C:\\name with a few files, and its uninstall
    entry pointing at it. Returns the folder (Unix path) and its files."""
    folder = os.path.join(wine.prefix, "drive_c", name)
    shutil.rmtree(folder, ignore_errors=True)
    shutil.rmtree(folder + ".old", ignore_errors=True)
    os.makedirs(os.path.join(folder, "bin"))
    files = {"uninst.exe": os.urandom(5000), os.path.join("bin", "client.dat"): os.urandom(70000)}
    for rel, data in files.items():
        with open(os.path.join(folder, rel), "wb") as f:
            f.write(data)
    wine.run(probe, ["set-uninstall", f'"C:\\{name}\\uninst.exe"'], cwd=work)
    return folder, files


class Automation:
    """The automation helper (tembra_driver.exe): finds the program's windows
    from outside, reads and clicks them."""

    CHOOSER, MANAGER = "Language:", "Downloading..."

    def __init__(self, wine, build, cwd):
        self.wine, self.exe, self.cwd = wine, os.path.join(build, "tembra_driver.exe"), cwd

    def raw(self, *command):
        """The helper's output for command, as text."""
        _, out, _ = self.wine.run(self.exe, list(command), cwd=self.cwd)
        return out

    def __call__(self, *command):
        return parse_probe(self.raw(*command))

    def wait_for(self, title, timeout_ms=30000):
        return self("find", title, str(timeout_ms)).get("found") == "1"

    def choose(self, control=None):
        """Confirms the language chooser, after clicking a language's button."""
        if not self.wait_for(self.CHOOSER):
            return False
        if control:
            self("click", self.CHOOSER, str(control))
        self("click", self.CHOOSER, "1")
        return True

    def status(self):
        return self("state", self.MANAGER).get("text1001")

    def screenshot(self, title, path, display):
        """Saves the window as the X server shows it, frame and caption
        included, as a PNG; returns its screen rectangle and pixels, or
        (None, None) when there is no such window."""
        state = self("state", title)
        if state.get("found") != "1":
            return None, None
        rect = tuple(int(v) for v in state["rect"].split(","))
        rows = capture_screen(display, rect)
        write_png(path, rect[2] - rect[0], rect[3] - rect[1], rows)
        return rect, rows


def use_virtual_desktop(wine):
    """A virtual desktop stands in for a window manager: without one, Wine
    waits about 2 s each time a top-level window goes."""
    wine.reg("add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default", "/f")
    wine.reg("add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default", "/d", "1024x768", "/f")


def registry_default(wine, key, name=None):
    """The default value of key (or its value name) as reg.exe shows it, or
    None when there is none."""
    _, out = wine.reg("query", key, *(("/v", name) if name else ("/ve",)))
    for line in out.splitlines():
        if "REG_SZ" in line:
            return line.split("REG_SZ", 1)[1].strip()
    return None


STARTED = "started"


def run_to_outcome(auto, process, folder, outcome, bound, name, while_shown=None):
    """Waits for a run of the program in folder to end as outcome: STARTED
    (the installer ran, the program ended with 0) or a status text number
    (shown within bound seconds, then while_shown() is called, then OK ends
    the program, nothing started)."""
    ran = os.path.join(folder, "installer-ran.txt")
    if outcome == STARTED:
        ended = deadline_poll(lambda: process.poll() is not None, bound)
        check(ended and process.returncode == 0, f"{name}: the program ends with 0 after the installer started")
        check(deadline_poll(lambda: os.path.exists(ran), 20), f"{name}: the installer ran")
    else:
        shown = deadline_poll(lambda: auto.status() == STATUS_TEXTS[outcome], bound, 0.2)
        check(shown, f"{name}: text {outcome} within {bound} s: {auto.status()!r}")
        if while_shown:
            while_shown()
        auto("click", auto.MANAGER, "1")
        check(deadline_poll(lambda: process.poll() is not None, 15) and process.returncode == 0,
              f"{name}: OK ends the program with 0")
        check(not os.path.exists(ran), f"{name}: nothing was started")
    if process.poll() is None:
        process.kill()


def check_previous(previous, files, moved, name):
    """The previous installation moved whole to .old, or left intact."""
    where, other = (previous + ".old", previous) if moved else (previous, previous + ".old")
    check(os.path.isdir(where) and not os.path.exists(other)
          and all(open(os.path.join(where, rel), "rb").read() == data for rel, data in files.items()),
          f"{name}: the previous installation is {'moved whole' if moved else 'intact'}")


LOG_NAME, OLD_LOG_NAME = "TembraDownloadManager.log", "TembraDownloadManager.old.log"


def temp_folder(prefix):
    """The temporary folder of the prefix's user, where the program keeps
    its support log (Wine 8: C:\\users\\NAME\\Temp)."""
    users = os.path.join(prefix, "drive_c", "users")
    for name in sorted(os.listdir(users)) if os.path.isdir(users) else []:
        folder = os.path.join(users, name, "Temp")
        if name != "Public" and os.path.isdir(folder):
            return folder
    return None


def support_log(prefix, old=False):
    """The text of the last run's support log (or the run's before), None
    when there is none."""
    folder = temp_folder(prefix)
    path = os.path.join(folder, OLD_LOG_NAME if old else LOG_NAME) if folder else None
    if not path or not os.path.isfile(path):
        return None
    return open(path, "rb").read().decode("latin-1")


def unsent(conn):
    """Bytes of conn still on their way to its peer or unread by it: this
    end's send queue and the peer's receive queue, from /proc/net/tcp (both
    ends are on this machine)."""
    ours, theirs = conn.getsockname()[1], conn.getpeername()[1]
    total = 0
    for line in open("/proc/net/tcp").readlines()[1:]:
        fields = line.split()
        local, remote = int(fields[1].split(":")[1], 16), int(fields[2].split(":")[1], 16)
        if (local, remote) in ((ours, theirs), (theirs, ours)):
            tx, rx = (int(v, 16) for v in fields[4].split(":"))
            total += tx if local == ours else rx
    return total
