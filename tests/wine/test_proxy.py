"""Every request of a run goes through the system's proxy: Debian's squid on
127.0.0.1 set in the test prefix's Internet Settings, the flow of the manager
under Wine with its real discovery, info file, worker and installer start.
The servers see squid's Via header on each request they answer."""
import os
import shutil
import socket
import subprocess
import sys

from harness import Route, Site, Wine, check, deadline_poll, finish, free_port, parse_args

args = parse_args()
if not shutil.which("squid"):
    print("squid missing")
    sys.exit(77)
build, work = args.windows_build, args.work
probe = os.path.join(build, "tembra_probe.exe")
wine = Wine(args.prefix)
installer = open(os.path.join(build, "test_installer.exe"), "rb").read() + os.urandom(200000)
SETTINGS = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings"


def start_squid(port):
    run = os.path.join(work, "squid")
    os.makedirs(run)
    os.chmod(run, 0o777)  # squid drops root for its own user
    conf = os.path.join(run, "squid.conf")
    with open(conf, "w") as f:
        f.write(f"""http_port 127.0.0.1:{port}
acl local src 127.0.0.1
http_access allow local
http_access deny all
cache deny all
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


port = free_port()
squid, run = start_squid(port)
site = Site(args)
site.publish("ENG", Route(b"%d\r\nproxied news\r\n" % len(installer)), Route(installer))
folder = os.path.join(work, "downloads")
os.makedirs(folder)
wine.reg("add", SETTINGS, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f")
wine.reg("add", SETTINGS, "/v", "ProxyServer", "/t", "REG_SZ", "/d", f"127.0.0.1:{port}", "/f")
try:
    code, out, err = wine.run(probe, ["flow", "ENG", "-"], cwd=folder)
finally:
    wine.reg("delete", SETTINGS, "/v", "ProxyEnable", "/f")
    wine.reg("delete", SETTINGS, "/v", "ProxyServer", "/f")
ops = [line[3:] for line in out.splitlines() if line.startswith("op=")]
check(code == 0 and ops[-1:] == ["end:1"], f"through the proxy the installer started: {ops[-3:]} {err[-200:]}")
check(open(os.path.join(folder, "tembset.exe"), "rb").read() == installer, "byte for byte the served one")
answered = site.primary.requests + site.download.requests
check(len(answered) == 4, f"two configuration answers, the info file and the installer: {[p for p, _ in answered]}")
direct = [path for path, headers in answered if "squid" not in headers.get("Via", "")]
check(not direct, f"every request came through squid: {direct}")
squid.terminate()
squid.wait(30)
# (Besides the connection that saw squid listening.)
logged = [line.split()[6] for line in open(os.path.join(run, "access.log"))
          if len(line.split()) > 6 and line.split()[6].startswith("http://")]
check(len(logged) == 4, f"squid logged each of them: {logged}")
site.close()
finish()
