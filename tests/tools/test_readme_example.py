"""The Distributor's guide's commands run as written: the publish example
(with the build example's addresses), the stamp and read-id example
(usage: test_readme_example.py TOOL WORK)."""
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from tool_testing import check, failures, tool_and_work, make_pe  # noqa: E402

TOOL, WORK = tool_and_work(sys.argv)


readme = open(os.path.join(HERE, "..", "..", "README.md"), encoding="utf-8").read()
# Indented code lines, continuation lines joined.
commands = re.sub(r"\\\n\s*", "", "\n".join(line[4:] for line in readme.splitlines() if line.startswith("    ")))
commands = [line.strip() for line in commands.splitlines()]
build = next(c for c in commands if c.startswith("cmake --preset windows -D"))
publish = [c for c in commands if c.startswith("build/host/tembra_tool publish")]
stamping = [c for c in commands if c == "mkdir -p out" or re.match(r"build/host/tembra_tool (stamp|read-id) (out/)?tembra", c)]
check(len(publish) == 1 and len(stamping) == 3, f"the guide's examples are found: {publish} {stamping}")

setting = lambda name: re.search(rf"-D{name}=(\S+)", build)[1]
option = lambda name: re.search(rf"--{name} (\S+)", publish[0])[1]
check(setting("TEMBRA_PRIMARY_SERVER") == option("primary") and setting("TEMBRA_FALLBACK_SERVER") == option("fallback"),
      "the publish example uses the build example's configuration addresses")

for name in re.findall(r"(?:--news |--installer (?:\w+:)?(?:[A-Z]{3}=)?)(\S+)", publish[0]):
    with open(os.path.join(WORK, name), "wb") as f:
        f.write(b"news\n" if name.endswith(".txt") else make_pe(name.encode()))
with open(os.path.join(WORK, "tembra.exe"), "wb") as f:
    f.write(make_pe(b"program"))
for command in publish + stamping:
    result = subprocess.run(["bash", "-c", command.replace("build/host/tembra_tool", TOOL)], cwd=WORK,
                            capture_output=True, text=True)
    check(result.returncode == 0, f"{command}: {result.stderr}")
    said = re.search(r"#\s*(\S+)$", command)
    if said:
        check(result.stdout.strip() == said[1], f"{command}: prints {result.stdout!r}")
tree = os.path.join(WORK, "site")
for path in ("tembra/primary", "tembra/primary-1", "tembra/fallback-1", "orvane/p_Vrimal_sys_ENG.exe", "manifest.json"):
    check(os.path.isfile(os.path.join(tree, path)), f"the published tree has {path}")
check(open(os.path.join(tree, "orvane", "p_Vrimal_sys_ENG.exe"), "rb").read() == make_pe(b"OrvaneSetup-legacy.exe")
      and open(os.path.join(tree, "orvane", "p_Vrimal_sys_DEU.exe"), "rb").read() == make_pe(b"OrvaneSetup-de.exe"),
      "the example's per-variant and per-language installers land where it says")
print(f"{len(publish + stamping)} commands, {len(failures)} failed checks")
sys.exit(1 if failures else 0)
