#!/usr/bin/env python3
"""Download benchmark: the program beside the best its design allows.

    tools/bench/run.sh [--rounds N] [--sizes 1,16,64] [--kinds fast,curl,...]

Serves installers of 1, 16 and 64 MiB with nginx on 127.0.0.1 (a 64 KiB
send buffer, so that nginx's $request_time ends when the client has the last
byte) and downloads each, interleaved round by round, with:
  program   the real program under Wine, driven through the language chooser
  bound     a bare WinINet loop: 4 KiB reads with the 1 ms sleep (the design)
  posts     the bound plus a posted message per read, pumped by another thread
  nosleep   the same loop without the sleep
  timer     the bound with posts, pausing on a high-resolution waitable
            timer as the program's worker does where the system has one
  curl      native curl
  fastbound the bare loop as the fast build runs: 64 KiB reads, no pause,
            a post per read
  fasthash  that loop hashing each read with SHA-256, as the worker does
  fast      the program built for fast lines (64 KiB reads, no pause: the
            windows-fast preset)
  fast 12M, curl 12M, fast 100M, curl 100M
            the fast program and curl from an nginx that sends the installer
            at a line rate of 12 or 100 MiB/s (limit_rate)
Every downloaded file's SHA-256 is checked against the publish manifest. It
prints MiB/s (median, min-max), the ratios program/bound and fast/curl at
each line rate, the CPU per MiB of both programs' user-interface thread and
download worker (/proc task stats),
peak memory and start time next to a trivial dialog program under Wine, and
the size of the executable.
"""
import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from harness import (Automation, Wine, Xvfb, deadline_poll, download_folders, downloading, read_cache,  # noqa: E402
                     use_virtual_desktop)
from serve_site import Site  # noqa: E402
import wine_platform  # noqa: E402

DOWNLOAD_PORT = 18464
MIB = 1024 * 1024
TICKS = os.sysconf("SC_CLK_TCK")
# Contenders: name -> (how it downloads, nginx limit_rate or None). nginx's
# "m" is MiB.
CONTENDERS = {
    "program": ("program", None), "bound": ("bound", None), "posts": ("posts", None), "timer": ("timer", None),
    "nosleep": ("nosleep", None), "curl": ("curl", None), "fastbound": ("fastbound", None),
    "fasthash": ("fasthash", None), "fast": ("fast", None),
    "fast 12M": ("fast", "12m"), "curl 12M": ("curl", "12m"),
    "fast 100M": ("fast", "100m"), "curl 100M": ("curl", "100m"),
}


BARE_OPTIONS = {"nosleep": ["nosleep"], "posts": ["post"], "timer": ["post", "timer"],
                "fastbound": ["nosleep", "post", "65536"], "fasthash": ["nosleep", "post", "hash", "65536"]}


def task_cpu(pid):
    """CPU seconds per thread of a Linux process: {tid: seconds}."""
    cpu = {}
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            fields = open(f"/proc/{pid}/task/{tid}/stat").read().rsplit(")", 1)[1].split()
            cpu[int(tid)] = (int(fields[11]) + int(fields[12])) / TICKS
    except OSError:
        pass
    return cpu


def peak_rss_kib(pid):
    try:
        for line in open(f"/proc/{pid}/status"):
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    except OSError:
        pass
    return None


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.windows_build)
        self.fast_build = os.path.abspath(args.fast_build)
        self.work = os.path.abspath(args.work)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.base = f"http://127.0.0.1:{DOWNLOAD_PORT}/files/"

    def publish(self):
        """One tree per size: the demo installer with a payload."""
        stub = open(os.path.join(self.build, "demo_installer.exe"), "rb").read()
        block = hashlib.sha256(b"benchmark").digest() * 4096
        news = os.path.join(self.work, "news.txt")
        open(news, "w").write("Benchmark news\nsecond line\n")
        primary, fallback = (read_cache(self.build, f"TEMBRA_{n}_SERVER") for n in ("PRIMARY", "FALLBACK"))
        self.trees, self.digests = {}, {}
        for size in self.args.sizes:
            installer = os.path.join(self.work, f"installer-{size}.exe")
            payload = (block * (size * MIB // len(block) + 1))[:size * MIB - len(stub)]
            open(installer, "wb").write(stub + payload)
            tree = os.path.join(self.work, f"site-{size}")
            subprocess.run([self.args.tool, "publish", tree, "--primary", primary, "--fallback", fallback,
                            "--download-base", self.base, "--news", news, "--installer", installer],
                           check=True, stdout=subprocess.DEVNULL)
            self.trees[size] = tree
            manifest = json.load(open(os.path.join(tree, "manifest.json")))
            self.digests[size] = {f["path"]: f["sha256"] for f in manifest["files"]}
        if any(k.startswith("fast") for k in self.args.kinds):
            # One published tree serves both programs: they must look for the same servers.
            fast = tuple(read_cache(self.fast_build, f"TEMBRA_{n}_SERVER") for n in ("PRIMARY", "FALLBACK"))
            if fast != (primary, fallback):
                sys.exit(f"bench: {self.fast_build} has other servers than {self.build}: {fast}")
        ports = [int(u.rsplit(":", 1)[1].split("/")[0]) for u in (primary, fallback)]
        return ports

    def serve(self, size, ports, rate):
        return Site(self.trees[size], ports + [DOWNLOAD_PORT], sndbuf="64k", rate=rate,
                    run_dir=os.path.join(self.work, f"nginx-{size}-{rate or 'unlimited'}"))

    def installer_time(self, site, count_before):
        rows = [r for r in site.timings()[count_before:] if r[0].endswith(".exe") and r[1] == 200]
        return rows[-1][3] if rows else None

    def run_program(self, build, site, folder):
        os.makedirs(folder)
        shutil.copy(os.path.join(build, "tembra.exe"), os.path.join(folder, "tembra.exe"))
        before = len(site.timings())
        process = self.wine.start(os.path.join(folder, "tembra.exe"), cwd=folder)
        self.auto.choose()
        pid = process.pid  # /usr/bin/wine execs the loader: the program keeps the pid
        # Each thread's CPU, kept at its largest reading (the worker ends before
        # the program does); the user-interface thread counted from the moment
        # the download starts, so the chooser and discovery stay out of it.
        samples, rss, ui_at_start = {}, None, None
        # The download lies in the program's private folder, which goes when
        # the installer has ended: a copy of the whole file is kept.
        target, whole = os.path.join(folder, "tembset.exe"), self.exe_size
        while process.poll() is None:
            for tid, cpu in task_cpu(pid).items():
                samples[tid] = max(cpu, samples.get(tid, 0.0))
            if ui_at_start is None and download_folders(self.wine):
                ui_at_start = samples.get(pid, 0.0)
            if not os.path.exists(target):
                data = downloading(self.wine)
                if len(data) == whole:
                    open(target, "wb").write(data)
            rss = peak_rss_kib(pid) or rss
            time.sleep(0.02)
        seconds = self.installer_time(site, before)
        main = samples.get(pid, 0.0) - (ui_at_start or 0.0)
        others = [cpu for tid, cpu in samples.items() if tid != pid]
        worker = max(others) if others else 0.0  # the busiest other thread: the download worker
        return seconds, target, {"ui": main, "worker": worker, "rss": rss}

    def run_native(self, kind, size, site, folder):
        os.makedirs(folder)
        target = os.path.join(folder, "tembset.exe")
        url = self.base + self.exe_name
        before = len(site.timings())
        if kind == "curl":
            subprocess.run(["curl", "-s", "--noproxy", "*", "-o", target, url], check=True)
        else:
            self.wine.run(os.path.join(self.build, "bare_download.exe"),
                          [url, "tembset.exe"] + BARE_OPTIONS.get(kind, []), cwd=folder)
        return self.installer_time(site, before), target, {}

    def measure_start(self, program, title, folder):
        """Seconds from starting program to its first window, and its peak
        resident set once it shows."""
        os.makedirs(folder, exist_ok=True)
        finder = subprocess.Popen([*self.wine.command, os.path.join(self.build, "tembra_driver.exe"), "find", title, "30000"],
                                  env=self.wine.env, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.5)  # the finder is running before the program starts
        started = time.monotonic()
        process = self.wine.start(program, cwd=folder)
        finder.wait(60)
        seconds = time.monotonic() - started
        time.sleep(0.5)
        rss = peak_rss_kib(process.pid)
        self.wine.run(os.path.join(self.build, "tembra_driver.exe"), ["command", title, "2"], cwd=folder)
        self.wine.run(os.path.join(self.build, "tembra_driver.exe"), ["key", title, "0x1B"], cwd=folder)
        if deadline_poll(lambda: process.poll() is not None, 10) is False:
            process.kill()
        return seconds, rss

    def main(self):
        ports = self.publish()
        self.xvfb = Xvfb(self.work)
        prefix = os.path.join(self.work, "..", "bench-wineprefix")
        subprocess.run([sys.executable, os.path.join(ROOT, "tests", "wine", "make_prefix.py"), prefix], check=True,
                       stdout=subprocess.DEVNULL)
        self.wine = Wine(os.path.abspath(prefix), display=self.xvfb.display)
        use_virtual_desktop(self.wine)
        self.auto = Automation(self.wine, self.build, self.work)
        results = {}  # (kind, size) -> list of (MiB/s, extra)
        kinds = self.args.kinds
        rates = list(dict.fromkeys(CONTENDERS[k][1] for k in kinds))
        try:
            for round_number in range(self.args.rounds):
                for size in self.args.sizes:
                    self.exe_name = next(p for p in self.digests[size] if p.endswith("_ENG.exe")).rsplit("/", 1)[1]
                    self.exe_size = size * MIB
                    for rate in rates:
                        site = self.serve(size, ports, rate)
                        for kind in (k for k in kinds if CONTENDERS[k][1] == rate):
                            self.run_one(round_number, size, site, kind, results)
                        site.stop()
                print(f"round {round_number + 1} of {self.args.rounds} done", flush=True)
            start = {name: self.measure_start(program, title, os.path.join(self.work, "start-" + name))
                     for name, program, title in (
                         ("program", os.path.join(self.build, "tembra.exe"), "Language:"),
                         ("trivial dialog", os.path.join(self.build, "demo_installer.exe"), "Tembra Orvane Setup"))}
        finally:
            self.wine.stop()
            self.xvfb.stop()
        self.report(results, kinds, start)

    def run_one(self, round_number, size, site, kind, results):
        how = CONTENDERS[kind][0]
        folder = os.path.join(self.work, f"r{round_number}-{size}-{kind.replace(' ', '-')}")
        if how in ("program", "fast"):
            seconds, target, extra = self.run_program(self.build if how == "program" else self.fast_build, site, folder)
        else:
            seconds, target, extra = self.run_native(how, size, site, folder)
        data = open(target, "rb").read() if os.path.exists(target) else b""
        if hashlib.sha256(data).hexdigest() not in self.digests[size].values() or not seconds:
            print(f"round {round_number}: {kind} {size} MiB: wrong or missing download", flush=True)
            return
        results.setdefault((kind, size), []).append((size / seconds, extra))
        os.remove(target)

    def report(self, results, kinds, start):
        print("\n" + wine_platform.describe(*wine_platform.detect()))
        print(f"\nDownload speed, MiB/s: median (min-max) over {self.args.rounds} interleaved rounds")
        medians = {}
        for (kind, size), runs in results.items():
            medians[kind, size] = statistics.median(s for s, _ in runs)
        for size in self.args.sizes:
            print(f"{size:>4} MiB")
            for kind in kinds:
                speeds = [s for s, _ in results.get((kind, size), [])]
                if speeds:
                    print(f"    {kind:10} {medians[kind, size]:8.2f} ({min(speeds):.2f}-{max(speeds):.2f})")
            for a, b in (("program", "bound"), ("program", "posts"), ("program", "timer"), ("fast", "fastbound"), ("fast", "fasthash"),
                         ("fastbound", "curl"), ("fast", "curl"),
                         ("fast 12M", "curl 12M"), ("fast 100M", "curl 100M")):
                if medians.get((a, size)) and medians.get((b, size)):
                    print(f"    {a} / {b}: {medians[a, size] / medians[b, size]:.3f}")
        print("\nThe programs' threads, CPU ms per MiB downloaded (median)")
        for kind in kinds:
            for size in self.args.sizes:
                runs = [extra for _, extra in results.get((kind, size), []) if extra]
                if runs:
                    ui = statistics.median(r["ui"] for r in runs) * 1000 / size
                    worker = statistics.median(r["worker"] for r in runs) * 1000 / size
                    print(f"  {kind:10} {size:>4} MiB  user-interface thread {ui:7.2f}   download worker {worker:7.2f}")
        rss = [extra["rss"] for (kind, _), runs in results.items() if kind == "program" for _, extra in runs]
        print("\nStart to the first window and peak resident set under Wine")
        for name, (seconds, start_rss) in start.items():
            print(f"  {name:15} {seconds * 1000:6.0f} ms   {start_rss or 0:7d} KiB at its first window")
        if rss and all(rss):
            print(f"  program peak during downloads: {max(rss)} KiB")
        size = os.path.getsize(os.path.join(self.build, "tembra.exe"))
        print(f"\nExecutable: {size} bytes")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--windows-build", default=os.path.join(ROOT, "build", "windows"))
    parser.add_argument("--fast-build", default=os.path.join(ROOT, "build", "windows-fast"))
    parser.add_argument("--tool", default=os.path.join(ROOT, "build", "host", "tembra_tool"))
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench", "run"))
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--sizes", default="1,16,64")
    parser.add_argument("--kinds", default=",".join(CONTENDERS), help="contenders to run, comma-separated")
    args = parser.parse_args()
    args.sizes = [int(s) for s in args.sizes.split(",")]
    args.kinds = [k.strip() for k in args.kinds.split(",")]
    unknown = [k for k in args.kinds if k not in CONTENDERS]
    if unknown:
        parser.error(f"unknown contenders {unknown}; known: {', '.join(CONTENDERS)}")
    for name in list(os.environ):
        if name.lower().endswith("_proxy"):
            del os.environ[name]
    Bench(args).main()


if __name__ == "__main__":
    main()
