"""Every request of a run goes through the system's proxy: Debian's squid on
127.0.0.1 set in the test prefix's Internet Settings, the flow of the manager
under Wine with its real discovery, info file, worker and installer start.
The servers see squid's Via header on each request they answer. Then squid
asks for Basic credentials: the real program shows WinINet's dialog, the
test fills it in from outside, and the whole run uses them; Cancel ends in
text 3."""
import base64
import os
import shutil
import socket
import subprocess
import sys

from harness import (STARTED, Automation, Route, Site, Wine, Xvfb, check, deadline_poll, finish, free_port,
                     installer_image, parse_args, read_request_head, run_to_outcome, serve_connections, support_log,
                     use_virtual_desktop)

args = parse_args()
if not shutil.which("squid"):
    print("squid missing")
    sys.exit(77)
build, work = args.windows_build, args.work
probe = os.path.join(build, "tembra_probe.exe")
xvfb = Xvfb(work)
wine = Wine(args.prefix, display=xvfb.display)
use_virtual_desktop(wine)
installer = open(os.path.join(build, "test_installer.exe"), "rb").read() + os.urandom(200000)
SETTINGS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"


def start_squid(port, name, credentials=None):
    """squid on port; with credentials (user, password) it asks for them."""
    run = os.path.join(work, name)
    os.makedirs(run)
    access = "http_access allow local"
    if credentials:
        hashed = subprocess.run(["openssl", "passwd", "-1", credentials[1]], capture_output=True, text=True,
                                check=True).stdout.strip()
        with open(os.path.join(run, "passwords"), "w") as f:
            f.write(f"{credentials[0]}:{hashed}\n")
        access = (f"auth_param basic program /usr/lib/squid/basic_ncsa_auth {run}/passwords\n"
                  "auth_param basic realm tembra-test\nacl users proxy_auth REQUIRED\nhttp_access allow local users")
    os.chmod(run, 0o777)  # squid drops root for its own user
    conf = os.path.join(run, "squid.conf")
    with open(conf, "w") as f:
        f.write(f"""http_port 127.0.0.1:{port}
acl local src 127.0.0.1
{access}
http_access deny all
cache deny all
server_persistent_connections off
access_log stdio:{run}/access.log squid
cache_log {run}/cache.log
pid_filename {run}/squid.pid
coredump_dir {run}
shutdown_lifetime 0 seconds
""")
    log = open(os.path.join(run, "squid.out"), "wb")
    proc = subprocess.Popen(["squid", "-N", "-f", conf], stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

    def listening():
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0
    check(deadline_poll(listening, 30), "squid listens: " + open(os.path.join(run, "squid.out"), errors="replace").read()[-300:])
    return proc, run


def proxy_settings(port):
    if port:
        wine.reg("add", SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
        wine.reg("add", SETTINGS, "/v", "ProxyServer", "/t", "REG_SZ", "/d", f"127.0.0.1:{port}", "/f")
    else:
        wine.reg("delete", SETTINGS, "/v", "ProxyEnable", "/f")
        wine.reg("delete", SETTINGS, "/v", "ProxyServer", "/f")


def access_log(run):
    """(user, address) of each request squid logged (besides the connection
    that saw it listening)."""
    return [(f[7], f[6]) for f in (line.split() for line in open(os.path.join(run, "access.log")))
            if len(f) > 7 and f[6].startswith("http://")]


port = free_port()
squid, run = start_squid(port, "squid")
site = Site(args)
site.publish("ENG", Route(b"%d\r\nproxied news\r\n" % len(installer)), Route(installer))
folder = os.path.join(work, "downloads")
os.makedirs(folder)
proxy_settings(port)
try:
    code, out, err = wine.run(probe, ["flow", "ENG", "-"], cwd=folder)
finally:
    proxy_settings(None)
ops = [line[3:] for line in out.splitlines() if line.startswith("op=")]
check(code == 0 and ops[-1:] == ["end:1"], f"through the proxy the installer started: {ops[-3:]} {err[-200:]}")
check(installer_image(folder) == installer, "byte for byte the served one")
answered = site.primary.requests + site.download.requests
check(len(answered) == 4, f"two configuration answers, the info file and the installer: {[p for p, _ in answered]}")
direct = [path for path, headers in answered if "squid" not in headers.get("Via", "")]
check(not direct, f"every request came through squid: {direct}")
squid.terminate()
squid.wait(30)
logged = access_log(run)
check(len(logged) == 4, f"squid logged each of them: {logged}")
site.close()

# --- A proxy that asks for credentials ---------------------------------------------------
DIALOG = "Enter Network Password"  # WinINet's own (Wine's caption)
auto = Automation(wine, build, work)
port = free_port()
squid, run = start_squid(port, "squid-auth", ("tester", "s3cret"))


def edit_controls():
    state = auto.raw("state", DIALOG)
    return [int(line.split()[0][8:]) for line in state.splitlines()
            if line.startswith("control=") and "class=Edit" in line]


def start_asked(case, info_route):
    """A site with the installer, and the program started in a folder of
    its own through the proxy on port; it is asked for credentials."""
    site = Site(args)
    site.publish("ENG", info_route, Route(installer))
    folder = os.path.join(work, case)
    os.makedirs(folder)
    shutil.copy(os.path.join(build, "tembra.exe"), folder)
    proxy_settings(port)
    process = wine.start(os.path.join(folder, "tembra.exe"), cwd=folder, log=os.path.join(folder, "wine.log"))
    auto.choose()
    return site, folder, process


def answer_dialog(case, answer):
    """Types answer (user, password) into WinINet's dialog and confirms it,
    or cancels it (None)."""
    if not check(auto.wait_for(DIALOG), f"{case}: WinINet's credential dialog appears"):
        return
    if answer:
        user_box, password_box = edit_controls()[:2]
        auto("settext", DIALOG, str(user_box), answer[0])
        auto("settext", DIALOG, str(password_box), answer[1])
    auto("click", DIALOG, "1" if answer else "2")


INFO = Route(b"%d\r\nproxied news\r\n" % len(installer))
for case, answer, outcome in [("credentials", ("tester", "s3cret"), STARTED), ("cancel", None, 3)]:
    try:
        site, folder, process = start_asked(case, INFO)
        answer_dialog(case, answer)
        run_to_outcome(auto, process, folder, outcome, 60, case)
    finally:
        proxy_settings(None)
    site.close()
    # The support log says what the user did, never what was typed.
    log = support_log(args.prefix) or ""
    said = "the user gave them" if answer else "the user cancelled"
    check(f"proxy asked for credentials: {said}" in log, f"{case}: the log records the answer: {log[-300:]!r}")
    check("tester" not in log and "s3cret" not in log, f"{case}: the log holds no credential")
users = {user for user, _ in access_log(run)}
addresses = [address for user, address in access_log(run) if user == "tester"]
check(len(addresses) == 4 and "/redirect" in addresses[1] and addresses[3].endswith(".exe"),
      f"with the credentials given once, every request of the run passed: {addresses}")
check(users <= {"tester", "-"}, f"only the test user got through: {users}")

# --- Credentials go only to the proxy they were given for -----------------------------------
# The system's proxy changes during the run (after the configuration answers
# came through squid with the test user's credentials) to another proxy that
# asks too: it must get the dialog's question again, never those credentials.
other_port, other_seen = free_port(), []
other = socket.socket()
other.bind(("127.0.0.1", other_port))
other.listen(8)


def refuse(conn):
    with conn:
        head = read_request_head(conn)
        if head:
            other_seen.append(head.decode("latin-1"))
            conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"other\"\r\n"
                         b"Content-Length: 0\r\nConnection: close\r\n\r\n")


serve_connections(other, refuse)
case = "another-proxy"
try:
    site, folder, process = start_asked(case, Route(INFO.body, chunks=[1, 64], delay=2))
    answer_dialog(case, ("tester", "s3cret"))
    # The info file trickles in; meanwhile the system's proxy changes.
    check(deadline_poll(lambda: any(p.endswith(".ENG") for p in site.download.paths()), 30), f"{case}: info asked")
    proxy_settings(other_port)
    answer_dialog(case + ", the other proxy", None)
    run_to_outcome(auto, process, folder, 5, 60, case)
finally:
    proxy_settings(None)
    other.close()
site.close()
given = base64.b64encode(b"tester:s3cret").decode()
check(other_seen and not any(given in request for request in other_seen),
      f"{case}: the other proxy never saw the credentials given for squid: {other_seen}")
squid.terminate()
squid.wait(30)
finish()
