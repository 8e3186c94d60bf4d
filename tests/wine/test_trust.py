"""Trust on the way from the servers to a started installer, with the test
variant of the program (https configuration addresses on 127.0.0.1, the
publisher "Tembra Tëst Publisher", not ASCII): https through WinINet against nginx with
certificates of a test authority trusted only inside the test prefix; the
Authenticode check of the installer (osslsigncode); and DLLs planted beside
the program, which it must never load."""
import os
import re
import shutil
import subprocess
import sys
import urllib.parse

from harness import (STARTED, Automation, Wine, Xvfb, check, check_previous, download_folders, finish, free_port,
                     installer_image, parse_args, parse_probe, previous_installation, run_repointed, run_to_outcome,
                     scramble, use_virtual_desktop)

args = parse_args()
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from serve_site import Site  # noqa: E402

if not all(shutil.which(tool) for tool in ("nginx", "osslsigncode", "openssl")):
    print("nginx, osslsigncode or openssl missing")
    sys.exit(77)
build, work = args.windows_build, args.work
settings = open(os.path.join(build, "generated", "trust_test", "stored_strings_config.h"), encoding="utf-8").read()
PRIMARY, FALLBACK = re.findall(r'#define TEMBRA_(?:PRIMARY|FALLBACK)_SERVER "([^"]*)"', settings)
PUBLISHER = re.search(r'#define TEMBRA_INSTALLER_SIGNER "([^"]*)"', settings).group(1)


def openssl(*command):
    result = subprocess.run(["openssl", *command], cwd=work, capture_output=True, text=True)
    check(result.returncode == 0, f"openssl {command[0]}: {result.stderr[-300:]}")


def authority(name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.pem",
            "-days", "2", "-subj", f"/CN={name}", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return name


def certificate(name, ca, common_name, extensions):
    with open(os.path.join(work, f"{name}.ext"), "w") as f:
        f.write(extensions + "\n")
    openssl("req", "-utf8", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
            "-subj", f"/CN={common_name}")
    openssl("x509", "-req", "-in", f"{name}.csr", "-CA", f"{ca}.pem", "-CAkey", f"{ca}.key", "-CAcreateserial",
            "-days", "2", "-out", f"{name}.pem", "-extfile", f"{name}.ext")
    return os.path.join(work, f"{name}.pem"), os.path.join(work, f"{name}.key")


trusted, stranger = authority("TembraTestRoot"), authority("UntrustedRoot")
# Wine's WinINet matches the host only against DNS names (an IP address
# entry alone gives ERROR_INTERNET_SEC_CERT_CN_INVALID, 12038), so the
# address stands in both forms.
server_ext = "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth"
good_tls = certificate("server", trusted, "127.0.0.1", server_ext)
untrusted_tls = certificate("server-untrusted", stranger, "127.0.0.1", server_ext)
other_host_tls = certificate("server-other-host", trusted, "other.example", "subjectAltName=DNS:other.example\n"
                             "extendedKeyUsage=serverAuth")
signing_ext = "extendedKeyUsage=codeSigning\nkeyUsage=digitalSignature"
signers = {"publisher": certificate("publisher", trusted, PUBLISHER, signing_ext),
           "other": certificate("other-signer", trusted, "Someone Else", signing_ext)}
# Not checked here: an installer signed with the publisher's name by an
# authority the machine does not trust. Windows refuses it (CERT_E_UNTRUSTEDROOT);
# Wine's WinVerifyTrust (8.0) accepts it and so starts the installer.
openssl("x509", "-in", f"{trusted}.pem", "-outform", "DER", "-out", f"{trusted}.der")

xvfb = Xvfb(work)
wine = Wine(args.prefix, display=xvfb.display)
use_virtual_desktop(wine)
probe = os.path.join(build, "tembra_probe.exe")
_, out, _ = wine.run(probe, ["trust-root", wine.unix_to_windows(os.path.join(work, f"{trusted}.der"))], cwd=work)
check(parse_probe(out).get("result") == "1", "the test authority is trusted in the test prefix")


def signed(name, signer, tamper=False):
    """The test installer, signed by signer (or not, for None)."""
    path = os.path.join(work, f"installer-{name}.exe")
    source = os.path.join(build, "test_installer.exe")
    if signer is None:
        shutil.copy(source, path)
        return path
    certificate_file, key = signers[signer]
    result = subprocess.run(["osslsigncode", "sign", "-certs", certificate_file, "-key", key, "-n", "Tembra Orvane",
                             "-in", source, "-out", path], capture_output=True, text=True)
    check(result.returncode == 0, f"osslsigncode signs {name}: {result.stderr[-200:]}")
    if tamper:
        data = bytearray(open(path, "rb").read())
        data[0x600] ^= 0x01  # a byte of the code, which the signature covers
        open(path, "wb").write(bytes(data))
    return path


port = lambda url: urllib.parse.urlsplit(url).port
download_port, bad_port = free_port(), free_port()


def serve(case, installer, config_tls=good_tls, download_redirect=False, download_tls=good_tls, answers=None):
    """Publishes the installer for ENG and serves the tree over https (the
    download over http without download_tls); answers: {address: plain
    text} put in place of the published answers."""
    tree = os.path.join(work, case, "site")
    scheme = "https" if download_tls else "http"
    subprocess.run([args.tool, "publish", tree, "--primary", PRIMARY, "--fallback", FALLBACK, "--download-base",
                    f"{scheme}://127.0.0.1:{download_port}/files/", "--news", os.path.join(work, "news.txt"),
                    "--installer", "ENG=" + installer], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for address, text in (answers or {}).items():
        open(os.path.join(tree, urllib.parse.urlsplit(address).path.lstrip("/")), "wb").write(scramble(args.tool, text))
    sites = [Site(tree, [port(PRIMARY), port(FALLBACK)], run_dir=os.path.join(work, case, "nginx-config"),
                  tls=config_tls),
             Site(tree, [download_port], run_dir=os.path.join(work, case, "nginx-download"), tls=download_tls,
                  exe_redirect=f"https://127.0.0.1:{bad_port}" if download_redirect else None)]
    if download_redirect:
        sites.append(Site(tree, [bad_port], run_dir=os.path.join(work, case, "nginx-bad"), tls=untrusted_tls))
    return sites


def run_case(case, outcome, installer, planted=False, planted_installer=False, while_shown=None, **serving):
    """One run of the program to outcome: STARTED, or a status text number.
    With planted_installer the program lies in a folder of its own beside an
    unsigned tembset.exe, and starts in the downloads folder. With planted,
    DLLs of the names the program and the installer load lie in the
    downloads folder."""
    folder = os.path.join(work, case, "downloads")
    program_dir = os.path.join(work, case, "program") if planted_installer else folder
    os.makedirs(folder)
    os.makedirs(program_dir, exist_ok=True)
    shutil.copy(os.path.join(build, "tembra_trust_test.exe"), os.path.join(program_dir, "tembra.exe"))
    if planted_installer:
        shutil.copy(os.path.join(build, "test_installer.exe"), os.path.join(program_dir, "tembset.exe"))
    env = None
    if planted:
        for name in ("version", "wininet", "winmm"):
            shutil.copy(os.path.join(build, "planted", name, name + ".dll"), folder)
        # Wine prefers its built-in DLLs; this makes it prefer a DLL from the
        # program's folder, as Windows does for DLLs that are not known DLLs.
        # Not for version.dll: Wine's own user32.dll imports it (Windows'
        # does not), so Wine would load a planted one before the program's
        # first instruction, whatever the program does.
        env = {"WINEDLLOVERRIDES": "mscoree,mshtml=;wininet,winmm=n,b"}
    sites = serve(case, installer, **serving)
    previous, files = previous_installation(wine, probe, work, "TembraTrust")
    process = wine.start(os.path.join(program_dir, "tembra.exe"), cwd=folder, env_extra=env)
    auto = Automation(wine, build, work)
    auto.choose()
    run_to_outcome(auto, process, folder, outcome, 60, case, while_shown)
    check_previous(previous, files, outcome == STARTED, case)
    for site in sites:
        site.stop()
    return folder


with open(os.path.join(work, "news.txt"), "w") as f:
    f.write("Trusted news\n")

# --- https and the publisher check end to end ---------------------------------------------
publisher_signed = signed("publisher", "publisher")
run_case("https-and-signer", STARTED, publisher_signed)
run_case("config-untrusted-authority", 3, publisher_signed, config_tls=untrusted_tls)
run_case("config-other-host-name", 3, publisher_signed, config_tls=other_host_tls)
run_case("download-untrusted-authority", 5, publisher_signed, download_redirect=True)
# The variant refuses download bases that are not https://, unless, as here,
# the signature authenticates the file.
run_case("http-download-signed", STARTED, publisher_signed, download_tls=None)
folder = run_case("unsigned-beside-program", STARTED, publisher_signed, planted_installer=True)
started_from = open(os.path.join(folder, "installer-started.txt"), encoding="latin-1").read().splitlines()[0]
check(re.fullmatch(r"c:\\windows\\temp\\tembra-[0-9a-f]{32}\\tembset\.exe", started_from.lower())
      and installer_image(folder) == open(publisher_signed, "rb").read(),
      f"the checked download ran, from the private folder, not the unsigned file beside the program: {started_from}")


def only_rejected(case, installer):
    """While text 7 shows: the refused download lies in the private folder
    only as tembset.exe.rejected, never under the installer's name."""
    def look():
        folders = download_folders(wine)
        names = sorted(os.listdir(folders[-1])) if folders else []
        check(names == ["tembset.exe.rejected"]
              and open(os.path.join(folders[-1], names[0]), "rb").read() == open(installer, "rb").read(),
              f"{case}: the download is kept only as tembset.exe.rejected: {names}")
    return look


for case, installer in [("unsigned", signed("unsigned", None)),
                        ("changed-after-signing", signed("tampered", "publisher", tamper=True)),
                        ("other-signer", signed("other", "other"))]:
    before = set(download_folders(wine))
    folder = run_case("signer-" + case, 7, installer, while_shown=only_rejected(case, installer))
    check(set(download_folders(wine)) <= before and not os.path.exists(os.path.join(folder, "tembset.exe")),
          f"{case}: the private folder went with the program, and nothing was written beside it")

# --- the current directory re-pointed at the start: the signature checked is
# that of the file that starts
case = "repointed-with-signer"
base = os.path.join(work, case)
os.makedirs(base)
shutil.copy(os.path.join(build, "tembra_trust_test.exe"), os.path.join(base, "tembra.exe"))
sites = serve(case, publisher_signed)
ran_in = run_repointed(wine, Automation(wine, build, work), build, base, os.path.join(base, "tembra.exe"))
check(len(ran_in) == 1 and installer_image(ran_in[0]) == open(publisher_signed, "rb").read(),
      f"{case}: the checked download ran, the planted file never did: {ran_in}")
for site in sites:
    site.stop()

# --- DLLs planted in the folder the program starts in --------------------------------------
# The installer imports winmm.dll, which a planted copy beside it would
# replace (Windows looks in a program's own folder first for DLLs that are
# not its known DLLs); it runs from the private folder, which holds none.
folder = run_case("planted-dlls", STARTED, publisher_signed, planted=True)
markers = [name for name in os.listdir(folder) if name.startswith("planted-")]
check(not markers, f"no DLL planted beside the program was loaded, into it or into the installer: {markers}")

# --- every configuration hop over https ------------------------------------------------------
# Both servers' answers redirect to a plain http:// address that would give a
# final answer (anyone on the path could give it): no usable answer.
plain_port = free_port()
hop = f"http://127.0.0.1:{plain_port}{urllib.parse.urlsplit(PRIMARY).path}"
plain = Site(os.path.join(work, "https-and-signer", "site"), [plain_port], run_dir=os.path.join(work, "nginx-plain"))
run_case("plain-http-hop", 3, publisher_signed, answers={a: f"iFlag=1|sUrl={hop}" for a in (PRIMARY, FALLBACK)})
check(plain.access_log() == [], f"the plain hop was never asked: {plain.access_log()}")
plain.stop()
finish()
