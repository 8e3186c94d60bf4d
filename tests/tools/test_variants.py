"""Installers per package variant: each variant's name serves its own
installer and its info file carries that installer's size, the most
specific --installer winning (usage: test_variants.py TOOL WORK)."""
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


# Four installers of four sizes, so a size line tells which one it counts.
installers = {tag: make_pe(tag.encode() * (100 * (n + 1))) for n, tag in enumerate(("reg", "sys", "kor", "deu"))}
paths = {tag: write(f"{tag}.exe", data) for tag, data in installers.items()}
news = write("news.txt", b"news")
result = subprocess.run([TOOL, "publish", "site", "--primary", "https://127.0.0.1:8/p", "--fallback",
                         "https://127.0.0.1:8/f", "--download-base", "https://127.0.0.1:9/dl/", "--news", news,
                         "--installer", "reg:" + paths["reg"], "--installer", "sys:" + paths["sys"],
                         "--installer", "sys:KOR=" + paths["kor"], "--installer", "DEU=" + paths["deu"]],
                        cwd=WORK, capture_output=True, text=True)
check(result.returncode == 0 and result.stderr == "", f"publish with per-variant installers: {result.stderr}")
LANGUAGES = ("CHT", "DEU", "ENG", "SPA", "FRE", "ITA", "JAP", "KOR", "DUT", "POR", "SWE")
# (variant, language) -> the installer it must serve
EXPECTED = {(v, lang): "deu" if lang == "DEU" else "kor" if (v, lang) == ("sys", "KOR") else v
            for v in ("reg", "sys") for lang in LANGUAGES}
manifest = json.load(open(os.path.join(WORK, "site", "manifest.json")))
downloads = {(d["variant"], d["language"]): d for d in manifest["downloads"]}
for (variant, language), tag in EXPECTED.items():
    stem = os.path.join(WORK, "site", "dl", f"p_Vrimal_{variant}_{language}")
    served = open(stem + ".exe", "rb").read()
    info = open(f"{stem}.{language}", "rb").read()
    entry = downloads.get((f"p_Vrimal_{variant}_", language), {})
    check(served == installers[tag], f"{variant} {language}: serves the {tag} installer")
    check(info.split(b"\r\n")[0] == b"%d" % len(installers[tag]),
          f"{variant} {language}: the info file counts the {tag} installer: {info[:12]!r}")
    check(entry.get("size") == len(installers[tag]) and entry.get("sha256") == hashlib.sha256(installers[tag]).hexdigest(),
          f"{variant} {language}: the manifest names the {tag} installer: {entry}")
print(f"{len(EXPECTED)} variant names, {len(failures)} failed checks")
sys.exit(1 if failures else 0)
