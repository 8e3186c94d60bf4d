"""`tembra_tool check` against trees served by nginx on 127.0.0.1: a good
tree with a mirror passes; an info file with a wrong size, a truncated
installer, an answer leading elsewhere, an answer with a wrong pin and a
mirror serving one wrong installer fail, each named, nothing else; over
https the certificate must be trusted; a manifest written before pins and
mirrors still checks (usage: test_check.py TOOL WORK)."""
import json
import os
import shutil
import socket
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))
from tool_testing import check, failures, tool_and_work, write as write_into, make_pe  # noqa: E402
from serve_site import Site  # noqa: E402

if not shutil.which("nginx") or not shutil.which("openssl"):
    print("nginx or openssl missing")
    sys.exit(77)
TOOL, WORK = tool_and_work(sys.argv)
ENV = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}


def write(name, data):
    return write_into(WORK, name, data)


def replace(path, data):
    """A file of the tree replaced, not written through: installers are hard links."""
    os.remove(path)
    return write(path, data)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run(*args):
    return subprocess.run([TOOL, *args], cwd=WORK, capture_output=True, text=True, env=ENV, timeout=120)


def failed_lines(output):
    return sorted(line.split()[1].rstrip(":") for line in output.splitlines() if line.startswith("FAIL"))


everyone, korean = write("setup.exe", make_pe(b"setup" * 400)), write("kor.exe", make_pe(b"kor" * 300))
news = write("news.txt", b"news\nmore news\n")
ports = [free_port() for _ in range(4)]
primary, fallback = f"http://127.0.0.1:{ports[0]}/cfg/primary", f"http://127.0.0.1:{ports[1]}/cfg/fallback"
base, mirror = f"http://127.0.0.1:{ports[2]}/files/", f"http://127.0.0.1:{ports[3]}/mirror/"
published = run("publish", "site", "--primary", primary, "--fallback", fallback, "--download-base", base,
                "--mirror", mirror, "--news", news, "--redirects", "1", "--installer", everyone,
                "--installer", "sys:KOR=" + korean)
check(published.returncode == 0, f"publish: {published.stderr}")
site = Site(os.path.join(WORK, "site"), ports, run_dir=os.path.join(WORK, "nginx"))
try:
    good = run("check", "site/manifest.json")
    check(good.returncode == 0 and not failed_lines(good.stdout) and "92 files checked, 0 failed" in good.stdout
          and "1 mirrors, 22 pins" in good.stdout,
          f"a good tree passes, from the download base and the mirror: {good.returncode} {good.stdout[-300:]} {good.stderr}")
    agents = {line for line in open(os.path.join(WORK, "nginx", "access.log"))}
    check(all('"Tembra Download Manager"' in line for line in agents), "every request carries the program's User-Agent")

    # Five faults, each in a file of its own.
    tree = os.path.join(WORK, "site")
    info = os.path.join(tree, "files", "p_Vrimal_reg_ENG.ENG")
    data = open(info, "rb").read()
    write(info, b"12345" + data[data.index(b"\r\n"):])
    installer = os.path.join(tree, "files", "p_Vrimal_sys_KOR.exe")
    replace(installer, open(installer, "rb").read()[:-100])
    scramble = lambda text: subprocess.run([TOOL, "scramble"], input=text, capture_output=True).stdout
    write(os.path.join(tree, "cfg", "fallback-1"), scramble(f"iFlag=0|sDlurl=http://127.0.0.1:{ports[2]}/old/".encode()))
    # The primary's final answer as published but for one digit of one pin.
    answer_path = os.path.join(tree, "cfg", "primary-1")
    plain = subprocess.run([TOOL, "descramble"], input=open(answer_path, "rb").read(), capture_output=True).stdout
    at = plain.index(b"sPin_p_Vrimal_reg_DUT.exe=") + len(b"sPin_p_Vrimal_reg_DUT.exe=")
    write(answer_path, scramble(plain[:at] + (b"9" if plain[at:at + 1] != b"9" else b"8") + plain[at + 1:]))
    # The mirror serves another file of the same size under one name.
    swapped = os.path.join(tree, "mirror", "p_Vrimal_reg_DEU.exe")
    data = bytearray(open(swapped, "rb").read())
    data[-1] ^= 0xFF
    replace(swapped, bytes(data))
    bad = run("check", "site/manifest.json")
    expected = sorted([base + "p_Vrimal_reg_ENG.ENG", base + "p_Vrimal_sys_KOR.exe", fallback + "-1",
                       primary + "-1", mirror + "p_Vrimal_reg_DEU.exe"])
    check(bad.returncode == 1 and failed_lines(bad.stdout) == expected and "92 files checked, 5 failed" in bad.stdout
          and "pins p_Vrimal_reg_DUT.exe as " in bad.stdout,
          f"exactly the five faults fail: {bad.returncode} {failed_lines(bad.stdout)} {bad.stdout[-200:]}")
finally:
    site.stop()

# --- https: a certificate for 127.0.0.1 from a CA of the test's own ---------------------------
openssl = lambda *a: subprocess.run(["openssl", *a], cwd=WORK, capture_output=True, check=True)
openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Tembra Test CA")
openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
write("san.ext", b"subjectAltName=IP:127.0.0.1\n")
openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-days", "2",
        "-extfile", "san.ext", "-out", "server.pem")
port = free_port()
secure = f"https://127.0.0.1:{port}/"
published = run("publish", "secure", "--primary", secure + "cfg/p", "--fallback", secure + "cfg/f",
                "--download-base", secure + "dl/", "--news", news, "--installer", everyone)
check(published.returncode == 0 and published.stderr == "", f"an https publish, without warning: {published.stderr}")
site = Site(os.path.join(WORK, "secure"), [port], run_dir=os.path.join(WORK, "nginx-tls"),
            tls=(os.path.join(WORK, "server.pem"), os.path.join(WORK, "server.key")))
try:
    trusted = run("check", "secure/manifest.json", "--ca", "ca.pem")
    check(trusted.returncode == 0 and "46 files checked, 0 failed" in trusted.stdout,
          f"with --ca the https tree passes: {trusted.stdout[-200:]} {trusted.stderr}")
    untrusted = run("check", "secure/manifest.json")
    check(untrusted.returncode == 1 and "46 files checked, 46 failed" in untrusted.stdout
          and "CERTIFICATE_VERIFY_FAILED" in untrusted.stdout, f"without it every file fails: {untrusted.stdout[-200:]}")
    # A manifest of the format before pins and mirrors: the rest is checked as before.
    earlier = json.load(open(os.path.join(WORK, "secure", "manifest.json")))
    earlier.update(format="tembra-publish/2")
    del earlier["mirrors"], earlier["pins"]
    write("earlier.json", json.dumps(earlier).encode())
    old = run("check", "earlier.json", "--ca", "ca.pem")
    check(old.returncode == 0 and "46 files checked, 0 failed" in old.stdout,
          f"a manifest written before pins still checks: {old.stdout[-200:]} {old.stderr}")
finally:
    site.stop()
print(f"{len(failures)} failed checks")
sys.exit(1 if failures else 0)
