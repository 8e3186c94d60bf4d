#!/usr/bin/env python3
"""Serves a tree written by `tembra_tool publish` with nginx on 127.0.0.1.

    python3 tools/serve_site.py TREE --port 18461 --port 18462 --port 18463 [--rate 256k]

serves TREE on every port given (the configuration servers and the download
server may share one tree) until Ctrl-C. The demo, the tests and the
benchmark use the Site class. nginx runs unprivileged from a folder of its
own (-p), with the configuration tools/nginx/site.conf.in.
"""
import argparse
import atexit
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "nginx", "site.conf.in")


class Site:
    """An nginx of our own serving root on 127.0.0.1 at each port. rate limits
    the installers' transfer (nginx limit_rate, e.g. "256k"); sndbuf sets the
    listening sockets' send buffer (e.g. "64k"). tls=(cert, key) serves https.
    exe_redirect (an origin such as "https://127.0.0.1:9") sends the
    installers there with a 302, as a CDN in front of the downloads would."""

    def __init__(self, root, ports, run_dir=None, rate=None, sndbuf=None, tls=None, exe_redirect=None):
        self.run_dir = run_dir or tempfile.mkdtemp(prefix="tembra-nginx-")
        os.makedirs(os.path.join(self.run_dir, "temp"), exist_ok=True)
        self.ports = list(ports)
        servers = []
        for port in self.ports:
            listen = f"127.0.0.1:{port}" + (f" sndbuf={sndbuf}" if sndbuf else "") + (" ssl" if tls else "")
            block = [f"    server {{", f"        listen {listen};", f"        root {os.path.abspath(root)};"]
            if tls:
                block += [f"        ssl_certificate {os.path.abspath(tls[0])};",
                          f"        ssl_certificate_key {os.path.abspath(tls[1])};"]
            block += ["        location / {", "        }"]
            if rate or exe_redirect:
                block += ["        location ~ \\.exe$ {",
                          f"            limit_rate {rate};" if rate else f"            return 302 {exe_redirect}$request_uri;",
                          "        }"]
            servers.append("\n".join(block + ["    }"]))
        # Per request, as the benchmark times it: path, status, bytes, seconds.
        timing = (f"    log_format timing '$uri $status $body_bytes_sent $request_time';\n"
                  f"    access_log {self.run_dir}/timing.log timing;\n")
        conf = open(TEMPLATE).read().replace("@RUN@", self.run_dir).replace("@SERVERS@", timing + "\n".join(servers))
        self.conf = os.path.join(self.run_dir, "nginx.conf")
        with open(self.conf, "w") as f:
            f.write(conf)
        self.log = open(os.path.join(self.run_dir, "nginx.out"), "wb")
        self.proc = subprocess.Popen(["nginx", "-p", self.run_dir, "-c", self.conf, "-e",
                                      os.path.join(self.run_dir, "error.log")],
                                     stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        atexit.register(self.stop)  # also when a test ends in an exception
        if not self._wait_listening(15):
            self.stop()
            raise RuntimeError("nginx did not start: " + open(os.path.join(self.run_dir, "error.log")).read())

    def _wait_listening(self, timeout):
        end = time.monotonic() + timeout
        waiting = set(self.ports)
        while waiting and time.monotonic() < end and self.proc.poll() is None:
            for port in list(waiting):
                with socket.socket() as s:
                    if s.connect_ex(("127.0.0.1", port)) == 0:
                        waiting.discard(port)
            time.sleep(0.05)
        return not waiting

    def access_log(self):
        """Request lines nginx served, as (path, status, bytes sent)."""
        entries = []
        path = os.path.join(self.run_dir, "access.log")
        for line in open(path, errors="replace") if os.path.exists(path) else []:
            try:
                request = line.split('"')[1].split()
                status, sent = line.split('"')[2].split()[:2]
                entries.append((request[1], int(status), int(sent)))
            except (IndexError, ValueError):
                pass
        return entries

    def timings(self):
        """(path, status, bytes sent, seconds) of every request, from nginx's
        $request_time: the last byte handed to a socket buffer, so give the
        listener a small sndbuf when timing."""
        path = os.path.join(self.run_dir, "timing.log")
        rows = [line.split() for line in open(path)] if os.path.exists(path) else []
        return [(r[0], int(r[1]), int(r[2]), float(r[3])) for r in rows if len(r) == 4]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGQUIT)  # graceful: the master takes its workers along
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.log.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("tree")
    parser.add_argument("--port", type=int, action="append", required=True)
    parser.add_argument("--rate", help="nginx limit_rate for the installers, e.g. 256k")
    args = parser.parse_args()
    if not shutil.which("nginx"):
        sys.exit("serve_site.py: nginx is not installed (apt-get install nginx-light)")
    site = Site(args.tree, args.port, rate=args.rate)
    print(f"serving {args.tree} on " + ", ".join(f"http://127.0.0.1:{p}/" for p in args.port)
          + f" (nginx in {site.run_dir}); Ctrl-C stops", flush=True)
    try:
        signal.sigwait([signal.SIGINT, signal.SIGTERM])
    finally:
        site.stop()


if __name__ == "__main__":
    main()
