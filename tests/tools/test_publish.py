"""tembra_tool publish on the host: the tree it writes, the mirrors and pins
of its final answers, and every refusal leaving the output folder as it was
(usage: test_publish.py TOOL WORK)."""
import hashlib
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tool_testing import check, failures, tool_and_work, write as write_into, make_pe  # noqa: E402

TOOL, WORK = tool_and_work(sys.argv)


def write(name, data):
    return write_into(WORK, name, data)


EXE = make_pe(b"setup")
installer, other = write("setup.exe", EXE), write("other.exe", EXE + b"other")
news = write("news.txt", b"first line\nsecond line\r\nthird")
SIZE_LINE = b"%d\r\n" % len(EXE)
BASE = "http://127.0.0.1:9/files/"
ENV = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}


def publish(out, *extra, base=BASE, news_file=news, installers=(installer,)):
    args = [TOOL, "publish", out, "--primary", "http://127.0.0.1:8/cfg/primary", "--fallback",
            "http://127.0.0.1:8/cfg/fallback", "--download-base", base, "--news", news_file, *extra]
    for item in installers:
        args += ["--installer", item]
    return subprocess.run(args, capture_output=True, text=True, env=ENV)


def snapshot(folder):
    """Every file under folder with its bytes; None when it does not exist."""
    if not os.path.exists(folder):
        return None
    if not os.path.isdir(folder):
        return open(folder, "rb").read()
    return {os.path.relpath(os.path.join(d, n), folder): open(os.path.join(d, n), "rb").read()
            for d, _, names in os.walk(folder) for n in names}


# --- A good publish -------------------------------------------------------------------
out = os.path.join(WORK, "site")
result = publish(out, "--redirects", "2", installers=(installer, "SWE=" + other))
check(result.returncode == 0 and result.stderr.startswith("tembra_tool publish: warning: the download base http://")
      and len(result.stderr.splitlines()) == 1, f"publish succeeds, warning of the http download base: {result.stderr}")
tree = snapshot(out)
manifest = json.loads(tree.pop("manifest.json"))
check(sorted(f["path"] for f in manifest["files"]) == sorted(tree), "the manifest lists every other file")
check(all(hashlib.sha256(tree[f["path"]]).hexdigest() == f["sha256"] and len(tree[f["path"]]) == f["size"]
          for f in manifest["files"]), "sizes and SHA-256 in the manifest match the files")
descramble = lambda data: subprocess.run([TOOL, "descramble"], input=data, capture_output=True).stdout
check(descramble(tree["cfg/primary"]) == b"iFlag=1|sUrl=http://127.0.0.1:8/cfg/primary-1"
      and descramble(tree["cfg/primary-2"]).startswith(b"iFlag=0|sDlurl=" + BASE.encode() + b"|sPin_")
      and descramble(tree["cfg/fallback-1"]) == b"iFlag=1|sUrl=http://127.0.0.1:8/cfg/fallback-2",
      "two scrambled redirects in front of each final answer")
check(tree["files/p_Vrimal_sys_KOR.KOR"] == SIZE_LINE + b"first line\r\nsecond line\r\nthird",
      f"info file: size line and news with CR LF: {tree.get('files/p_Vrimal_sys_KOR.KOR')!r}")
check(tree["files/p_Vrimal_reg_SWE.exe"] == EXE + b"other" and tree["files/p_Vrimal_reg_SWE.SWE"].startswith(
    b"%d\r\n" % (len(EXE) + 5)), "a language's own installer overrides the one for all")
names = [n for n in tree if n.endswith(".exe")]
check(len(names) == 22, f"22 installer names: {len(names)}")
inodes = {os.stat(os.path.join(out, n)).st_ino for n in names}
check(len(inodes) == 2, f"the two installers are stored once each, linked under their names: {len(inodes)} files")

# --- Mirrors and pins ---------------------------------------------------------------
# One mirror on the download base's path (it shares its files), one on a path of its own.
LANGUAGES = "CHT DEU ENG SPA FRE ITA JAP KOR DUT POR SWE".split()
MIRRORS = ["http://127.0.0.2:9/files/", "https://m.example.com/other/path/"]
mirrored = os.path.join(WORK, "mirrored")
result = publish(mirrored, "--mirror", MIRRORS[0], "--mirror", MIRRORS[1], installers=(installer, "SWE=" + other))
warnings = result.stderr.splitlines()
check(result.returncode == 0 and len(warnings) == 2 and "warning: the download base http://" in warnings[0]
      and f"warning: the mirror {MIRRORS[0]} is plain http, and so is the configuration address" in warnings[1],
      f"behind http answers the http base and the http mirror are warned of, the https mirror not: {warnings}")
tree = snapshot(mirrored)
manifest = json.loads(tree.pop("manifest.json"))
names = [f"p_Vrimal_{variant}_{language}.exe" for language in LANGUAGES for variant in ("reg", "sys")]
pins = {name: "%d:%s" % (len(tree["files/" + name]), hashlib.sha256(tree["files/" + name]).hexdigest()) for name in names}
final = descramble(tree["cfg/primary"]).decode()
check(final == f"iFlag=0|sDlurl={BASE}|sMirror1={MIRRORS[0]}|sMirror2={MIRRORS[1]}"
      + "".join(f"|sPin_{name}={pins[name]}" for name in names) and descramble(tree["cfg/fallback"]).decode() == final,
      f"each final answer: the base, the mirrors in order, a pin per installer name in language order: {final[:300]}")
print(f"final answer with 22 pins and 2 short mirrors: {len(final)} bytes; publish says: {result.stdout.strip()}")
check(manifest["format"] == "tembra-publish/3" and manifest["mirrors"] == MIRRORS and manifest["pins"] == pins
      and list(manifest["pins"]) == names, "the manifest records the mirrors and the pins")
own = sorted(n[len("other/path/"):] for n in tree if n.startswith("other/path/"))
check(own == sorted(n[len("files/"):] for n in tree if n.startswith("files/")) and len(own) == 44
      and all(tree["other/path/" + n] == tree["files/" + n] for n in own)
      and all(os.stat(os.path.join(mirrored, "other/path", n)).st_ino == os.stat(os.path.join(mirrored, "files", n)).st_ino
              for n in own if n.endswith(".exe")),
      f"the mirror's own path holds every info file and installer (linked): {len(own)} files")

# Behind https answers only the download base is warned of: copies built before pins read no
# mirrors and no pins, and the pins authenticate what the others fetch over http.
result = subprocess.run([TOOL, "publish", os.path.join(WORK, "pinned"), "--primary", "https://127.0.0.1:8/cfg/p",
                         "--fallback", "https://127.0.0.1:8/cfg/f", "--download-base", BASE, "--mirror", MIRRORS[0],
                         "--news", news, "--installer", installer], capture_output=True, text=True, env=ENV)
check(result.returncode == 0 and result.stderr.splitlines() == [
    f"tembra_tool publish: warning: the download base {BASE} is plain http: the pins of the https answers "
    "authenticate the installer, but a copy of the program built before pins takes whatever arrives there and runs "
    "it elevated, unless built with TEMBRA_INSTALLER_SIGNER"], f"one warning, of the base: {result.stderr}")

# Same inputs, same bytes; an earlier publish is replaced.
again = os.path.join(WORK, "again")
publish(again, "--redirects", "2", installers=(installer, "SWE=" + other))
check(snapshot(again) == snapshot(out), "a second run over the same inputs gives the same bytes")
result = publish(out)
check(result.returncode == 0 and descramble(snapshot(out)["cfg/primary"]).startswith(b"iFlag=0"),
      "publishing over an earlier publish replaces it")

# Addresses with characters JSON must escape still give a manifest that parses.
quoted = os.path.join(WORK, "quoted")
result = subprocess.run([TOOL, "publish", quoted, "--primary", 'http://127.0.0.1:8/cfg/"p"', "--fallback",
                         "http://127.0.0.1:8/cfg/f", "--download-base", "http://127.0.0.1:9/d%C3%A9j%C3%A0/",
                         "--news", news, "--installer", installer], capture_output=True, text=True, env=ENV)
try:
    parsed = json.load(open(os.path.join(quoted, "manifest.json"), encoding="utf-8"))
except (OSError, ValueError) as error:
    parsed = {"error": str(error)}
check(result.returncode == 0 and parsed.get("primary") == 'http://127.0.0.1:8/cfg/"p"'
      and os.path.isfile(os.path.join(quoted, 'cfg/"p"'))
      and os.path.isfile(os.path.join(quoted, "d\u00e9j\u00e0", "p_Vrimal_reg_ENG.exe")),
      f"quotes are escaped in the manifest, percent-encoding decoded into file names: {result.stderr} {parsed}")

# --- Refusals: one error line, non-zero exit, the output folder untouched --------------
longest_name = len("p_Vrimal_reg_ENG.exe")
# Folders of 100 characters (a file system takes at most 255 per name).
fit_base = "http://127.0.0.1:9/" + ("b" * 99 + "/") * 20 + "b" * 7 + "/"
check(len(fit_base) + longest_name == 2047, f"test set-up: {len(fit_base)}")
check(publish(os.path.join(WORK, "fits"), base=fit_base).returncode == 0,
      f"a download base of {len(fit_base)} characters still fits the 2,048-byte download address")
# The largest answer: that base and four mirrors as long (other hosts, one path), 22 pins.
longest_mirrors = [arg for n in (2, 3, 4, 5) for arg in ("--mirror", fit_base.replace("127.0.0.1", f"127.0.0.{n}"))]
result = publish(os.path.join(WORK, "fits-mirrors"), *longest_mirrors, base=fit_base)
largest = descramble(open(os.path.join(WORK, "fits-mirrors", "cfg", "primary"), "rb").read())
check(result.returncode == 0 and 12000 < len(largest) < 21999 and f"each final answer has {len(largest)} bytes" in result.stdout,
      f"the largest final answer fits the program's read: {len(largest)} bytes, {result.stdout} {result.stderr}")
print(f"largest final answer (base and 4 mirrors of {len(fit_base)} characters, 22 pins): {len(largest)} bytes")
fit_news = write("fit-news.txt", b"n" * (21999 - len(SIZE_LINE)))
check(publish(os.path.join(WORK, "fits-news"), news_file=fit_news).returncode == 0,
      "an info file of exactly 21,999 bytes fits")
foreign = os.path.join(WORK, "foreign")
os.makedirs(foreign)
write("foreign/index.html", b"<html>somebody's site</html>")
a_file = write("a-file", b"not a folder")
CASES = [  # (name, output folder, keyword arguments, what the error line names)
    ("missing installer", out, dict(installers=(os.path.join(WORK, "nope.exe"),)), "the installer " + os.path.join(WORK, "nope.exe") + ": No such file or directory"),
    ("empty installer", out, dict(installers=(write("empty.exe", b""),)), "is empty"),
    ("not an executable", out, dict(installers=(write("page.exe", b"<html>404</html>"),)), "not a Windows executable"),
    ("news too long", out, dict(news_file=write("long.txt", b"n" * (22000 - len(SIZE_LINE)))), "is too long: the info file would have 22000 bytes"),
    ("news with NUL", out, dict(news_file=write("nul.txt", b"a\0b")), "NUL"),
    ("download base too long", out, dict(base=fit_base[:-1] + "b/"), "download base address has 2028"),
    ("unknown language", out, dict(installers=("XYZ=" + installer,)), "unknown language code XYZ"),
    ("address not http", out, dict(base="ftp://127.0.0.1/files/"), "must start with http"),
    ("address with '|'", out, dict(base="http://127.0.0.1/a|b/"), "'|'"),
    ("five mirrors", out, dict(extra=[a for n in range(5) for a in ("--mirror", f"http://127.0.0.{n + 2}/m/")]),
     "--mirror is given 5 times; the program reads at most 4 mirrors"),
    ("mirror without /", out, dict(extra=["--mirror", "http://127.0.0.2/m"]), "--mirror http://127.0.0.2/m: must end in '/'"),
    ("mirror not http", out, dict(extra=["--mirror", "ftp://127.0.0.2/m/"]), "--mirror ftp://127.0.0.2/m/: must start with http"),
    ("mirror too long", out, dict(extra=["--mirror", "http://127.0.0.2/m/", "--mirror", fit_base[:-1] + "b/"]),
     "--mirror number 2 has 2028 characters"),
    ("mirror twice", out, dict(extra=["--mirror", "http://127.0.0.2/m/"] * 2), "--mirror http://127.0.0.2/m/: is given twice"),
    ("mirror is the base", out, dict(extra=["--mirror", BASE]), "is the download base already"),
    ("mirror path on an answer", out, dict(extra=["--mirror", "http://127.0.0.2/cfg/primary/"]),
     "would need cfg/primary as both a file and a folder"),
    ("foreign folder", foreign, {}, "not an earlier publish"),
    ("output is a file", a_file, {}, "not a folder"),
]
for name, target, kwargs, expected in CASES:
    before = snapshot(target)
    kwargs = dict(kwargs)
    result = publish(target, *kwargs.pop("extra", ()), **kwargs)
    lines = result.stderr.splitlines()
    check(result.returncode != 0 and len(lines) == 1 and expected in lines[0],
          f"{name}: one error line naming {expected!r}: {result.returncode} {result.stderr!r}")
    check(snapshot(target) == before, f"{name}: {os.path.basename(target)} is as it was")
check(not [n for n in os.listdir(WORK) if "publishing" in n], "no staging folder is left behind")

print(f"{len(failures)} failed checks")
sys.exit(1 if failures else 0)
