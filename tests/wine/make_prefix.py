"""Creates the Wine prefix that every Wine test of this build tree uses."""
import os
import shutil
import subprocess
import sys

prefix = sys.argv[1]
if not os.path.exists(os.path.join(prefix, "system.reg")):
    shutil.rmtree(prefix, ignore_errors=True)
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower() and k != "DISPLAY"}
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEARCH="win32", WINEDLLOVERRIDES="mscoree,mshtml=")
    with open(prefix + ".log", "wb") as log:
        subprocess.run(["wineboot", "-i"], env=env, stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                       check=True, timeout=600)
        subprocess.run(["wineserver", "-w"], env=env, stdout=log, stderr=log, timeout=600)
        subprocess.run(["wineserver", "-k"], env=env, stdout=log, stderr=log)
ok = os.path.exists(os.path.join(prefix, "system.reg"))
print("prefix ready" if ok else "prefix was not created")
sys.exit(0 if ok else 1)
