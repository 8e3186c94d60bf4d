"""The release preset refuses to configure without a distributor's own
settings, and refuses plain http configuration addresses unless allowed
(usage: test_release_preset.py SOURCE WORK)."""
import os
import shutil
import subprocess
import sys

source, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
shutil.rmtree(work, ignore_errors=True)
OWN = ["-DTEMBRA_PRIMARY_SERVER=https://cfg1.example.com/a", "-DTEMBRA_FALLBACK_SERVER=https://cfg2.example.com/a",
       "-DTEMBRA_REGISTRY_KEY=SOFTWARE\\Example\\Id"]
CASES = [  # name, settings, what the refusal names (None: configures)
    ("no settings", [], "set TEMBRA_PRIMARY_SERVER, TEMBRA_FALLBACK_SERVER, TEMBRA_REGISTRY_KEY"),
    ("only the servers", OWN[:2], "set TEMBRA_REGISTRY_KEY"),
    ("own https settings", OWN, None),
    ("http fallback", OWN[:1] + ["-DTEMBRA_FALLBACK_SERVER=http://cfg2.example.com/a"] + OWN[2:],
     "TEMBRA_FALLBACK_SERVER is a plain http:// address"),
    ("http allowed", OWN[:1] + ["-DTEMBRA_FALLBACK_SERVER=http://cfg2.example.com/a", "-DTEMBRA_ALLOW_HTTP=ON"]
     + OWN[2:], None),
    ("unknown execution level", OWN + ["-DTEMBRA_EXECUTION_LEVEL=root"], "TEMBRA_EXECUTION_LEVEL must be"),
]
failures = 0
for number, (name, settings, refusal) in enumerate(CASES):
    result = subprocess.run(["cmake", "--preset", "release", "-B", os.path.join(work, str(number)), *settings],
                            cwd=source, capture_output=True, text=True)
    output = " ".join((result.stdout + result.stderr).split())
    ok = result.returncode == 0 if refusal is None else result.returncode != 0 and refusal in output
    print(f"{'ok    ' if ok else 'FAILED'} {name}: exit {result.returncode}" + ("" if ok else f"\n{output[-600:]}"))
    failures += not ok
sys.exit(1 if failures else 0)
