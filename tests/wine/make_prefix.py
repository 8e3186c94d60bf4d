"""Creates the Wine prefix that every Wine test of this build tree uses, for
the platform this machine runs (see wine_platform.py), and says which."""
import os
import shutil
import subprocess
import sys

import wine_platform

prefix = sys.argv[1]
platform, reason = wine_platform.detect()
print(wine_platform.describe(platform, reason), flush=True)
marker = os.path.join(prefix, "tembra-platform")
made_for = open(marker).read() if os.path.exists(marker) else None
if not os.path.exists(os.path.join(prefix, "system.reg")) or made_for != platform:
    shutil.rmtree(prefix, ignore_errors=True)
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower() and k != "DISPLAY"}
    env.update(wine_platform.wine_environment(platform, prefix))
    with open(prefix + ".log", "wb") as log:
        subprocess.run([*wine_platform.wine_command(platform), "wineboot", "-i"], env=env, stdout=log, stderr=log,
                       stdin=subprocess.DEVNULL, check=True, timeout=600)
        subprocess.run(["wineserver", "-w"], env=env, stdout=log, stderr=log, timeout=600)
        subprocess.run(["wineserver", "-k"], env=env, stdout=log, stderr=log)
    if os.path.exists(os.path.join(prefix, "system.reg")):
        with open(marker, "w") as f:
            f.write(platform)
ok = os.path.exists(os.path.join(prefix, "system.reg"))
print("prefix ready" if ok else f"prefix was not created (see {prefix}.log)")
sys.exit(0 if ok else 1)
