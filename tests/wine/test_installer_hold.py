"""The program starts exactly the installer it downloaded: by its full path,
whatever lies beside the program or on PATH; held against other processes
from the first byte to the start; one copy of the program at a time; and in
a build that asks for it, only from an https:// download base."""
import hashlib
import os
import shutil
import time

from harness import (STARTED, Automation, Route, Site, Wine, Xvfb, check, deadline_poll, finish, parse_args,
                     parse_probe, run_to_outcome, use_virtual_desktop)

args = parse_args()
build, work = args.windows_build, args.work
probe = os.path.join(build, "tembra_probe.exe")
installer = open(os.path.join(build, "test_installer.exe"), "rb").read()
xvfb = Xvfb(work)
wine = Wine(args.prefix, display=xvfb.display)
use_virtual_desktop(wine)
auto = Automation(wine, build, work)


def published(installer_route=None, **site_options):
    site = Site(args, **site_options)
    site.publish("ENG", Route(b"%d\nnews\n" % len(installer)), installer_route or Route(installer))
    return site


def case_folders(case, program="tembra.exe"):
    """The program in a folder of its own, and the folder it is started in."""
    program_dir, downloads = os.path.join(work, case, "program"), os.path.join(work, case, "downloads")
    os.makedirs(program_dir)
    os.makedirs(downloads)
    shutil.copy(os.path.join(build, program), os.path.join(program_dir, "tembra.exe"))
    return os.path.join(program_dir, "tembra.exe"), downloads


def started_as(folder):
    """(module path, command line) of the installer that ran in folder."""
    lines = open(os.path.join(folder, "installer-started.txt"), encoding="latin-1").read().splitlines()
    return lines[0].lower(), lines[1]


def expect_downloaded_one_ran(case, folder):
    path, command_line = started_as(folder)
    expected = wine.unix_to_windows(os.path.join(folder, "tembset.exe")).lower()
    check(path == expected, f"{case}: the downloaded file ran ({path}), not another")
    check(command_line == "tembset.exe", f"{case}: its command line is still tembset.exe: {command_line!r}")
    check(open(os.path.join(folder, "tembset.exe"), "rb").read() == installer, f"{case}: byte for byte the served one")


# --- the check at the start: the digest of what was written against the file -----------------
installer_path = os.path.join(build, "test_installer.exe")
for mode, sealed in [("same", "1"), ("changed", "0")]:
    code, out, err = wine.run(probe, ["seal", wine.unix_to_windows(installer_path), mode], cwd=work)
    result = parse_probe(out)
    check(code == 0 and result.get("written") == "1" and result.get("sealed") == sealed,
          f"seal {mode}: the start goes ahead only on the file as written: {result} {err[-200:]}")
expected = hashlib.sha256(installer).hexdigest()
check(result.get("sha256") == expected and result.get("sha256_portable") == expected,
      f"the program's SHA-256 (SHA instructions: {result.get('sha_instructions')}) is the standard one: {result}")
cpu_has_sha = any(line.startswith("flags") and " sha_ni" in line for line in open("/proc/cpuinfo"))
check(result.get("sha_instructions") == ("1" if cpu_has_sha else "0"),
      f"the SHA instructions are used exactly where the processor has them ({cpu_has_sha}): {result}")
if wine.platform == "win64":
    print("The 64-bit build ran the SHA-instruction rounds; a 32-bit thread's 4-byte stack alignment, which they "
          "realign, arises only in the 32-bit program: tool.sha_stack_alignment checks its compiled code")

# --- search order: a tembset.exe beside the program, or on PATH ----------------------------
on_path = os.path.join(work, "on-path")
os.makedirs(on_path)
shutil.copy(os.path.join(build, "test_installer.exe"), os.path.join(on_path, "tembset.exe"))
for case, planted, env in [
        ("planted-beside-program", True, None),
        ("no-current-directory-on-path", False,
         {"NoDefaultCurrentDirectoryInExePath": "1", "WINEPATH": wine.unix_to_windows(on_path)})]:
    program, downloads = case_folders(case)
    if planted:
        shutil.copy(os.path.join(build, "test_installer.exe"), os.path.join(os.path.dirname(program), "tembset.exe"))
    site = published()
    process = wine.start(program, cwd=downloads, env_extra=env)
    auto.choose()
    run_to_outcome(auto, process, downloads, STARTED, 60, case)
    expect_downloaded_one_ran(case, downloads)
    check(not os.path.exists(os.path.join(os.path.dirname(program), "installer-ran.txt")), f"{case}: nothing else ran")
    site.close()

# --- no writer from the first byte to the start --------------------------------------------
# Another process of the user tries, every few milliseconds while the file
# exists, to write into it, rename it and delete it: during the download
# (slowed to about 3 s) and the pause before the start. The program holds the
# file without sharing write or delete access, except for the moment it
# changes handles for the start; a writer that gets in just then (at most
# once) must make the start fail.
case = "writers"
folder = os.path.join(work, case)
os.makedirs(folder)
site = published(Route(installer, chunks=[1024] * (len(installer) // 1024 + 1), delay=0.2))
tamper_log = os.path.join(work, "tamper.log")
tamper = wine.start(probe, ["tamper", "tembset.exe", "installer-ran.txt", "60"], cwd=folder, log=tamper_log)
code, out, err = wine.run(probe, ["flow", "ENG", "-"], cwd=folder)
check(code == 0, f"{case}: the flow ran: {err[-300:]}")
check(deadline_poll(lambda: tamper.poll() is not None, 90), f"{case}: the tampering process ended")
tries = parse_probe(open(tamper_log, encoding="latin-1").read())
succeeded = sum(int(tries.get(k, "99")) for k in ("opened", "renamed", "deleted"))
check(int(tries.get("tries", "0")) > 50, f"{case}: the file was tried many times while it existed: {tries}")
ops = [line[3:] for line in out.splitlines() if line.startswith("op=")]
if succeeded == 0:
    check(ops[-1:] == ["end:1"], f"{case}: the installer started: {ops[-3:]}")
    expect_downloaded_one_ran(case, folder)
else:
    check(succeeded == 1 and "end:1" not in ops and not os.path.exists(os.path.join(folder, "installer-ran.txt")),
          f"{case}: a change in the hand-over moment stops the start: {tries} {ops[-3:]}")
site.close()

# --- one copy at a time ---------------------------------------------------------------------
case = "two-copies"
program, downloads = case_folders(case)
site = published()
first = wine.start(program, cwd=downloads)
check(auto.wait_for(Automation.CHOOSER), f"{case}: the first copy asks for the language")
began = time.monotonic()
second = wine.start(program, cwd=downloads)
check(deadline_poll(lambda: second.poll() is not None, 30) and second.returncode == 0,
      f"{case}: the second copy ends with 0")
print(f"second copy ended after {time.monotonic() - began:.1f} s")
check(site.config_paths() == [] and site.fetched() == [] and not os.listdir(downloads),
      f"{case}: it asked no server and wrote no file: {site.config_paths()} {os.listdir(downloads)}")
auto.choose()
run_to_outcome(auto, first, downloads, STARTED, 60, case)
check(len(site.config_paths()) == 2 and sorted(site.fetched()) == ["p_Vrimal_sys_ENG.ENG", "p_Vrimal_sys_ENG.exe"],
      f"{case}: one chain of requests, one download: {site.config_paths()} {site.fetched()}")
expect_downloaded_one_ran(case, downloads)
site.close()

# --- a build that asks for https downloads --------------------------------------------------
case = "https-required-http-base"
program, downloads = case_folders(case, "tembra_https_download.exe")
site = published()
process = wine.start(program, cwd=downloads)
auto.choose()
run_to_outcome(auto, process, downloads, 3, 60, case)
check(site.fetched() == [] and not os.path.exists(os.path.join(downloads, "tembset.exe")),
      f"{case}: nothing downloaded from the http:// base: {site.fetched()}")
site.close()
finish()
