"""The program starts exactly the installer it downloaded: by its full path,
whatever lies beside the program or on PATH; held against other processes
from the first byte to the start; one copy of the program at a time; and in
a build that asks for it, only from an https:// download base."""
import hashlib
import os
import re
import shutil
import time

from harness import (STARTED, Automation, Route, Site, Wine, Xvfb, check, deadline_poll, download_folders, finish,
                     installer_image, parse_args, parse_probe, read_cache, registry_default, run_repointed,
                     run_to_outcome, use_virtual_desktop)

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


PRIVATE = re.compile(r"c:\\windows\\temp\\tembra-[0-9a-f]{32}\\tembset\.exe")


def expect_downloaded_one_ran(case, folder, served=installer, own_folder=True):
    """The installer that ran in folder (its current directory) was the
    download, started from a private folder; nothing was written into the
    folder (unless the test put something there itself)."""
    path, command_line = started_as(folder)
    check(PRIVATE.fullmatch(path), f"{case}: the downloaded file ran from a private folder ({path}), not another")
    check(command_line == "tembset.exe", f"{case}: its command line is still tembset.exe: {command_line!r}")
    check(installer_image(folder) == served, f"{case}: byte for byte the served one")
    check(not own_folder or not os.path.exists(os.path.join(folder, "tembset.exe")),
          f"{case}: nothing written into the current directory")


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
# once) must make the start fail. (On Windows the private folder's DACL keeps
# every other user's process out even then; Wine keeps no DACL.)
case = "writers"
folder = os.path.join(work, case)
os.makedirs(folder)
site = published(Route(installer, chunks=[1024] * (len(installer) // 1024 + 1), delay=0.2))
tamper_log = os.path.join(work, "tamper.log")
tamper = wine.start(probe, ["tamper", "installer-ran.txt", "60", "new"], cwd=folder, log=tamper_log)
code, out, err = wine.run(probe, ["flow", "ENG", "-"], cwd=folder)
check(code == 0, f"{case}: the flow ran: {err[-300:]}")
check(deadline_poll(lambda: tamper.poll() is not None, 90), f"{case}: the tampering process ended")
tries = parse_probe(open(tamper_log, encoding="latin-1").read())
check(int(tries.get("tries", "0")) > 50, f"{case}: the file was tried many times while it existed: {tries}")
ops = [line[3:] for line in out.splitlines() if line.startswith("op=")]
if tries.get("opened") == "0":
    check(tries.get("renamed") == "0" and tries.get("deleted") == "0", f"{case}: nobody renamed or deleted it: {tries}")
    check(ops[-1:] == ["end:1"], f"{case}: the installer started: {ops[-3:]}")
    expect_downloaded_one_ran(case, folder)
else:  # (once refused, the file is let go of: renames and deletes may follow)
    check(tries.get("opened") == "1" and "end:1" not in ops
          and not os.path.exists(os.path.join(folder, "installer-ran.txt")),
          f"{case}: a writer in the hand-over moment stops the start: {tries} {ops[-3:]}")
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

# --- the folder the installer is written to and started from -------------------------------
result = parse_probe(wine.run(probe, ["folder-security"], cwd=work)[1])
check(result.get("created") == "1" and result.get("elevated") == "1" and result.get("protected") == "1"
      and result.get("aces") == "2" and result.get("admin_writes") == "1" and result.get("user_writes") == "0",
      f"an elevated run's private folder: a protected DACL that lets only Administrators and SYSTEM write "
      f"(the user without the Administrators group may not add, delete or change its security): {result}")
# Wine keeps no DACL on these file systems (one set by CreateDirectory reads
# back as the default), so the descriptor is checked as the program passes it.

# A folder an earlier run left (listed, held by nobody) goes at the next
# download; a folder of that form that the list does not name is not the
# program's to remove.
key = "HKLM\\" + read_cache(build, "TEMBRA_REGISTRY_KEY") + "\\Downloads"
temp = os.path.join(args.prefix, "drive_c", "windows", "temp")
left, foreign = "tembra-" + "a" * 32, "tembra-" + "b" * 32
for name in (left, foreign):
    os.makedirs(os.path.join(temp, name), exist_ok=True)
    open(os.path.join(temp, name, "tembset.exe"), "wb").write(b"MZ left over")
wine.reg("add", key, "/v", left, "/d", "", "/f")

# The current directory re-pointed at the start (see run_repointed), and a
# tembset.exe there that is a symbolic link to another file.
case = "repointed-current-directory"
base = os.path.join(work, case)
victim = os.path.join(base, "victim.txt")
os.makedirs(os.path.join(base, "real1"))
open(victim, "wb").write(b"not to be overwritten")
os.symlink(victim, os.path.join(base, "real1", "tembset.exe"))
program = os.path.join(base, "tembra.exe")
shutil.copy(os.path.join(build, "tembra.exe"), program)
big = installer + os.urandom(16 * 1024 * 1024)  # the check before the start takes a moment
site = Site(args)
site.publish("ENG", Route(b"%d\nnews\n" % len(big)), Route(big))
ran_in = run_repointed(wine, auto, build, base, program)
check(len(ran_in) == 1, f"{case}: one installer ran: {ran_in}")
if ran_in:
    expect_downloaded_one_ran(case, ran_in[0], big, own_folder=False)
check(open(victim, "rb").read() == b"not to be overwritten",
      f"{case}: the file a tembset.exe link in the current directory points to is untouched")
check(not os.path.exists(os.path.join(temp, left)) and registry_default(wine, key, left) is None,
      f"the folder an earlier run left is gone, and unlisted")
check(os.path.exists(os.path.join(temp, foreign, "tembset.exe")), "an unlisted folder is left alone")
shutil.rmtree(os.path.join(temp, foreign))
site.close()

# The installer's file stays held until the installer ends (it may read
# itself again); meanwhile the window is gone and another copy may start.
# Then the private folder goes. The current directory's name is outside the
# system's code page: nothing depends on its ANSI form.
case = "held-until-the-installer-ends"
program, downloads = case_folders(case)
downloads_unicode = downloads + "-\u65e5\u672c"
os.rename(downloads, downloads_unicode)
downloads = downloads_unicode
open(os.path.join(downloads, "installer-hold.txt"), "w").close()
site = published()
before = set(download_folders(wine))
process = wine.start(program, cwd=downloads)
auto.choose()
check(auto("gone", Automation.MANAGER, "60000").get("gone") == "1", f"{case}: the window ended")
check(process.poll() is None and len(set(download_folders(wine)) - before) == 1,
      f"{case}: the program stays, holding its folder")
tamper_log = os.path.join(work, case + "-tamper.log")
tamper = wine.start(probe, ["tamper", os.path.join("nothing", "marker"), "2", "any"], cwd=work, log=tamper_log)
check(deadline_poll(lambda: tamper.poll() is not None, 30), f"{case}: the tampering process ended")
tries = parse_probe(open(tamper_log, encoding="latin-1").read())
check(int(tries.get("tries", "0")) > 0 and sum(int(tries.get(k, "9")) for k in ("opened", "renamed", "deleted")) == 0,
      f"{case}: nobody writes, renames or deletes the file while the installer runs: {tries}")
second = wine.start(program, cwd=downloads)
if check(auto.wait_for(Automation.CHOOSER), f"{case}: a second copy starts while the installer runs"):
    auto("key", Automation.CHOOSER, "0x1B")
check(deadline_poll(lambda: second.poll() is not None, 30), f"{case}: the second copy ends")
os.remove(os.path.join(downloads, "installer-hold.txt"))
check(deadline_poll(lambda: process.poll() is not None, 60) and process.returncode == 0,
      f"{case}: the program ends with 0 once the installer has")
expect_downloaded_one_ran(case, downloads)
check(set(download_folders(wine)) <= before, f"{case}: the private folder is gone: {download_folders(wine)}")
site.close()
finish()
