"""The distributor's side end to end: a tree written by `tembra_tool publish`
(one redirect in front of each final answer), served by nginx on 127.0.0.1,
carries the real program under Wine to a started installer, in two
languages, from an Authenticode-signed copy stamped and then re-stamped with
a distribution ID, whose signature osslsigncode still verifies."""
import hashlib
import json
import os
import shutil
import subprocess
import sys

from harness import (Automation, Wine, Xvfb, check, deadline_poll, finish, free_port, installer_image, parse_args,
                     read_cache, registry_default, use_virtual_desktop)

args = parse_args()
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from serve_site import Site  # noqa: E402

if not shutil.which("nginx") or not shutil.which("osslsigncode"):
    print("nginx or osslsigncode missing")
    sys.exit(77)
build, work = args.windows_build, args.work
run = lambda *command: subprocess.run(command, capture_output=True, text=True, cwd=work)

# --- A signed build, stamped ------------------------------------------------------------
run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-days", "2",
    "-subj", "/CN=Tembra Test Publisher", "-addext", "extendedKeyUsage=codeSigning")
signing = run("osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem", "-n", "Tembra Download Manager",
              "-in", os.path.join(build, "tembra.exe"), "-out", "signed.exe")
check(signing.returncode == 0, f"osslsigncode signs the build: {signing.stderr}")


def stamp_and_verify(source, target, first, second):
    stamped = run(args.tool, "stamp", source, target, first, second)
    verify = run("osslsigncode", "verify", "-CAfile", "cert.pem", "-in", target)
    check(stamped.returncode == 0 and verify.returncode == 0 and "Signature verification: ok" in verify.stdout,
          f"{target}: stamped with {first}_{second} and the signature still verifies: {stamped.stderr} {verify.stdout[-300:]}")
    read = run(args.tool, "read-id", target)
    check(read.stdout.strip() == f"{first}_{second}", f"read-id reads the stamp of {target}: {read.stdout!r}")
    return os.path.join(work, target)


first_copy = stamp_and_verify("signed.exe", "first.exe", "SIGNED", "FIRST")
second_copy = stamp_and_verify("first.exe", "second.exe", "PARTNER", "RESTAMPED2026")
check(os.path.getsize(second_copy) == os.path.getsize(first_copy) > os.path.getsize(os.path.join(work, "signed.exe")),
      "re-stamping replaces the ID attribute inside the signature, it does not stack one")

# --- Publish and serve ---------------------------------------------------------------
primary, fallback = read_cache(build, "TEMBRA_PRIMARY_SERVER"), read_cache(build, "TEMBRA_FALLBACK_SERVER")
download_port = free_port()
with open(os.path.join(work, "news.txt"), "w") as f:
    f.write("Published news\nsecond line\n")
published = run(args.tool, "publish", "site", "--primary", primary, "--fallback", fallback, "--download-base",
                f"http://127.0.0.1:{download_port}/dl/", "--news", "news.txt", "--redirects", "1",
                "--installer", "sys:" + os.path.join(build, "test_installer.exe"),
                "--installer", "reg:" + os.path.join(build, "demo_installer.exe"))
check(published.returncode == 0, f"publish: {published.stderr}")
manifest = {f["path"]: f["sha256"] for f in json.load(open(os.path.join(work, "site", "manifest.json")))["files"]}
port = lambda url: int(url.split(":")[2].split("/")[0])
site = Site(os.path.join(work, "site"), [port(primary), port(fallback), download_port], run_dir=os.path.join(work, "nginx"))

xvfb = Xvfb(work)
wine = Wine(args.prefix, display=xvfb.display)
use_virtual_desktop(wine)
auto = Automation(wine, build, work)
KEY = "HKLM\\" + read_cache(build, "TEMBRA_REGISTRY_KEY")


def run_copy(program, language, control, env_extra=None):
    """Runs a copy from a downloads folder of its own; returns that folder."""
    folder = os.path.join(work, "downloads-" + language)
    os.makedirs(folder)
    shutil.copy(program, os.path.join(folder, "tembra.exe"))
    wine.reg("delete", KEY, "/ve", "/f")  # the ID only: the key also lists the download folders
    served = len(site.access_log())
    process = wine.start(os.path.join(folder, "tembra.exe"), cwd=folder, env_extra=env_extra)
    check(auto.choose(control), f"{language}: the chooser appears and is confirmed")
    try:
        code = process.wait(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        code = None
    check(code == 0, f"{language}: the program ends with 0 after starting the installer: {code}")
    check(deadline_poll(lambda: os.path.exists(os.path.join(folder, "installer-ran.txt")), 30),
          f"{language}: the installer was started")
    requests = [path for path, status, _ in site.access_log()[served:] if status == 200]
    installer = next((p.lstrip("/") for p in requests if p.endswith(f"_{language}.exe")), None)
    check(requests[:2] == ["/" + primary.split("/", 3)[3], "/" + primary.split("/", 3)[3] + "-1"],
          f"{language}: discovery went through the published redirect: {requests}")
    check(installer is not None and installer.startswith("dl/p_Vrimal_sys_"),
          f"{language}: a plain Wine prefix gets the sys variant's own installer: {installer}")
    data = installer_image(folder) or b""
    check(installer in manifest and hashlib.sha256(data).hexdigest() == manifest[installer],
          f"{language}: the downloaded installer matches the manifest's SHA-256 ({installer})")
    return folder


run_copy(first_copy, "DEU", None, env_extra={"LC_ALL": "de_DE.UTF-8"})
check(registry_default(wine, KEY) == "SIGNED_FIRST", f"the signed, stamped copy records its ID: {registry_default(wine, KEY)}")
run_copy(second_copy, "SWE", 1025)
check(registry_default(wine, KEY) == "PARTNER_RESTAMPED2026",
      f"the re-stamped copy records its new ID: {registry_default(wine, KEY)}")
site.stop()
finish()
