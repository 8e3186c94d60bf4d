"""A Windows program keeps its exit code however long its Unix libraries
take to let it go: a preloaded exit handler that takes a second stands for a
stalled machine. Without the quick exit, wineserver kills such a process
after about half a second (-9); through the harness it does not."""
import os

from harness import Wine, check, finish, parse_args

args = parse_args()
probe = os.path.join(args.windows_build, "tembra_probe.exe")
wine = Wine(args.prefix)
quick_exit = os.environ.get("TEMBRA_WINE_QUICK_EXIT")

if not quick_exit:
    # The 32-bit loader cannot load the 64-bit library; the tests there run
    # as before.
    print(f"no quick exit on {wine.platform}: the harness starts programs as they are")
    finish()

SLOW = {"LD_PRELOAD": os.path.join(os.path.dirname(quick_exit), "wine_slow_exit.so")}
# (probe arguments, its exit code): a command that succeeds, and the usage error.
CASES = [(["pacing-support"], 0), ([], 2)]

for probe_args, expected in CASES:
    code, _, _ = wine.run(probe, probe_args, cwd=args.work, env_extra=SLOW)
    check(code == expected, f"{probe_args or 'no arguments'}: exit code {expected} kept through a slow exit: {code}")

# The same program started without the quick exit: wineserver's kill.
del os.environ["TEMBRA_WINE_QUICK_EXIT"]
plain, _, _ = wine.run(probe, ["pacing-support"], cwd=args.work, env_extra=SLOW)
check(plain == -9, f"without it the slow exit ends in SIGKILL (Wine 8's wineserver): {plain}")
finish()
