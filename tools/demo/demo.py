#!/usr/bin/env python3
"""The demo: publishes a package of the demo installer for all eleven
languages, serves it with nginx on 127.0.0.1 (slowly, so that the progress
bar and the news can be watched), and runs the program under Wine.

With DISPLAY set the windows appear on that display for a person to click.
Without it the demo runs in an X server of its own, drives both dialogs with
the automation helper of the end-to-end tests and saves a screenshot of each
stage. Run through ./demo.sh, which installs and builds what it needs.
"""
import argparse
import hashlib
import os
import shutil
import signal
import subprocess
import sys
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from harness import Automation, Wine, Xvfb, deadline_poll, download_folders, downloading, read_cache  # noqa: E402
from serve_site import Site  # noqa: E402

DOWNLOAD_PORT = 18463
PAYLOAD_SIZE = 2 * 1024 * 1024  # what a real installer carries after its stub
RATE = "192k"                   # about 11 s for the whole installer
NEWS = """Welcome to Tembra Orvane!
Version 4.2 brings offline maps and a faster start.
Your settings and saved data are kept.
Tip: press F1 anywhere for help.
Thank you for choosing Tembra Orvane."""
CHOOSER, MANAGER, INSTALLER = "Language:", "Downloading...", "Tembra Orvane Setup"
FIRST, SECOND = "DEMO", "WINTER2026"


def stage(text):
    print(f"[demo {time.strftime('%H:%M:%S')}] {text}", flush=True)


def port_of(url):
    return urllib.parse.urlsplit(url).port


def demo_installer(build, work):
    """The demo installer with a deterministic payload behind it, as a real
    installer carries its archive."""
    path = os.path.join(work, "demo-installer.exe")
    stub = open(os.path.join(build, "demo_installer.exe"), "rb").read()
    block = hashlib.sha256(b"Tembra Orvane demo payload").digest() * 2048
    with open(path, "wb") as f:
        f.write(stub + (block * (PAYLOAD_SIZE // len(block) + 1))[:PAYLOAD_SIZE])
    return path


def publish(tool, build, work):
    news = os.path.join(work, "news.txt")
    with open(news, "w") as f:
        f.write(NEWS + "\n")
    tree = os.path.join(work, "site")
    primary, fallback = read_cache(build, "TEMBRA_PRIMARY_SERVER"), read_cache(build, "TEMBRA_FALLBACK_SERVER")
    subprocess.run([tool, "publish", tree, "--primary", primary, "--fallback", fallback,
                    "--download-base", f"http://127.0.0.1:{DOWNLOAD_PORT}/files/", "--news", news,
                    "--installer", demo_installer(build, work), "--redirects", "1"],
                   check=True, stdout=subprocess.DEVNULL)
    return tree, [port_of(primary), port_of(fallback), DOWNLOAD_PORT]


class Demo:
    def __init__(self, args):
        self.args = args
        self.build = args.windows_build
        self.work = args.work
        self.headless = not os.environ.get("DISPLAY")
        self.site = self.xvfb = self.wine = None
        self.shots = os.path.join(self.work, "screenshots")

    def screenshot(self, title, name):
        return self.driver.screenshot(title, os.path.join(self.shots, name + ".png"), self.xvfb.display)

    def start(self):
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.shots)
        tree, ports = publish(self.args.tool, self.build, self.work)
        self.site = Site(tree, ports, run_dir=os.path.join(self.work, "nginx"), rate=RATE)
        stage("servers up: " + ", ".join(f"http://127.0.0.1:{p}/" for p in ports) + f" (nginx serving {tree})")
        prefix = os.path.join(os.path.dirname(self.work), "demo-wineprefix")
        subprocess.run([sys.executable, os.path.join(ROOT, "tests", "wine", "make_prefix.py"), prefix], check=True,
                       stdout=subprocess.DEVNULL)
        if self.headless:
            self.xvfb = Xvfb(self.work)
        self.wine = Wine(prefix, display=self.xvfb.display if self.xvfb else os.environ["DISPLAY"])
        if self.headless:  # a virtual desktop closes windows at once under a bare X server
            self.wine.reg("add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default", "/f")
            self.wine.reg("add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default", "/d", "800x600", "/f")
        else:
            self.wine.reg("delete", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/f")
        # The first Wine session of a new prefix draws window captions black;
        # the program runs in a session of its own.
        self.wine.stop()
        subprocess.run(["wineserver", "-p"], env=self.wine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.driver = Automation(self.wine, self.build, self.work)
        self.key = "HKLM\\" + read_cache(self.build, "TEMBRA_REGISTRY_KEY")
        self.wine.reg("delete", self.key, "/ve", "/f")
        # The user's downloads folder: a stamped copy of the program.
        self.downloads = os.path.join(self.work, "Downloads")
        os.makedirs(self.downloads)
        self.program = os.path.join(self.downloads, "tembra.exe")
        subprocess.run([self.args.tool, "stamp", os.path.join(self.build, "tembra.exe"), self.program, FIRST, SECOND],
                       check=True)

    def run(self):
        process = self.wine.start(self.program, cwd=self.downloads, log=os.path.join(self.work, "program.log"))
        stage("program started: " + ("pick a language in the window" if not self.headless
                                     else "Xvfb " + self.xvfb.display + ", driven automatically"))
        if self.headless:
            if self.driver("find", CHOOSER, "60000").get("found") == "1":
                self.screenshot(CHOOSER, "1-language-chooser")
                self.driver("click", CHOOSER, "1")
        total = PAYLOAD_SIZE + os.path.getsize(os.path.join(self.build, "demo_installer.exe"))
        if not deadline_poll(lambda: download_folders(self.wine) or process.poll() is not None,
                             600 if not self.headless else 60):
            raise RuntimeError("the download did not start")
        folder = download_folders(self.wine)[-1] if download_folders(self.wine) else "?"
        stage(f"downloading {total} bytes into {os.path.join(folder, 'tembset.exe')} (the program's private folder)")
        if self.headless:
            deadline_poll(lambda: len(downloading(self.wine)) >= total // 2, 60, 0.1)
            self.screenshot(MANAGER, "2-manager-mid-download")
        downloaded = deadline_poll(lambda: len(downloading(self.wine)) == total and total, 120, 0.1)
        started = deadline_poll(lambda: self.driver("find", INSTALLER, "1000").get("found") == "1"
                                or process.poll() is not None, 120, 0.2)
        if started and process.poll() is None or self.driver("find", INSTALLER, "5000").get("found") == "1":
            stage("installer started: window \"" + INSTALLER + "\"")
            if self.headless:
                self.screenshot(INSTALLER, "3-installer-started")
                self.driver("click", INSTALLER, "1")
        code = process.wait(timeout=60)
        _, out = self.wine.reg("query", self.key, "/ve")
        recorded = next((line.split("REG_SZ", 1)[1].strip() for line in out.splitlines() if "REG_SZ" in line), None)
        stage(f"distribution ID recorded: {recorded} under {self.key}" if recorded
              else "distribution ID not recorded")
        if self.headless:
            stage("screenshots: " + ", ".join(os.path.join(self.shots, n) for n in sorted(os.listdir(self.shots))))
        gone = not download_folders(self.wine)
        stage("the installer has ended; the program removed its private folder" if gone
              else "the private folder is still there")
        ok = code == 0 and recorded == f"{FIRST}_{SECOND}" and downloaded and gone
        stage("done" if ok else f"done, with a problem (exit {code}, whole download {bool(downloaded)})")
        return ok

    def stop(self):
        if self.wine:
            self.wine.stop()
        if self.xvfb:
            self.xvfb.stop()
        if self.site:
            self.site.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    for name in ("work", "windows_build", "tool"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    for name in list(os.environ):
        if name.lower().endswith("_proxy"):
            del os.environ[name]
    # Ctrl-C and a terminating signal both end in the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    demo = Demo(args)
    try:
        demo.start()
        ok = demo.run()
    except KeyboardInterrupt:
        stage("interrupted")
        ok = False
    finally:
        demo.stop()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
