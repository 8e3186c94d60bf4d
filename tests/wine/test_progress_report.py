"""The download's progress beyond the bar's pixels, under Wine, on the real
manager dialog (the program's template and dialog procedure, hosted by the
probe): read from another process through Microsoft Active Accessibility
while the download runs (role, name and value of the bar, and the
value-change events it raises), and the calls made to the taskbar button,
recorded in place of the system's."""
import os

from harness import (STATUS_TEXTS, Route, Site, Wine, Xvfb, check, deadline_poll, finish, parse_args, parse_probe,
                     use_virtual_desktop)

args = parse_args()
build, work = args.windows_build, args.work
probe = os.path.join(build, "tembra_probe.exe")
driver = os.path.join(build, "tembra_driver.exe")
program = os.path.join(build, "tembra.exe")
installer = open(os.path.join(build, "test_installer.exe"), "rb").read()
xvfb = Xvfb(work)
wine = Wine(args.prefix, display=xvfb.display)
use_virtual_desktop(wine)
ROLE_SYSTEM_PROGRESSBAR = 0x30
TBPF_NOPROGRESS, TBPF_NORMAL, TBPF_ERROR = 0, 2, 4


def manager_window(case, site_setup):
    """The manager dialog in the probe against a site; the helper watches
    the bar from outside until the window ends or shows OK (then pressed).
    Returns the helper's readings, their raw lines and the taskbar calls."""
    site = Site(args)
    site_setup(site)
    folder = os.path.join(work, case)
    os.makedirs(folder)
    output = os.path.join(folder, "probe.out")
    process = wine.start(probe, ["manager-window", wine.unix_to_windows(program), "ENG"], cwd=folder, log=output)
    _, found, _ = wine.run(driver, ["find", STATUS_TEXTS[1], "30000"], cwd=folder)
    check("found=1" in found, f"{case}: the manager window appears")
    _, watched, _ = wine.run(driver, ["accessible-watch", STATUS_TEXTS[1], "1003", "60000"], cwd=folder, timeout=90)
    readings = parse_probe(watched)
    if readings.get("open") == "1":
        wine.run(driver, ["click", STATUS_TEXTS[1], "1"], cwd=folder)
    check(deadline_poll(lambda: process.poll() is not None, 30), f"{case}: the window ends")
    site.close()
    calls = [line[len("taskbar="):] for line in open(output, encoding="latin-1").read().splitlines()
             if line.startswith("taskbar=")]
    return readings, watched.splitlines(), calls


def values_of(lines):
    return [int(line[len("value="):-1]) for line in lines if line.startswith("value=") and line.endswith("%")]


# A download of about four seconds whose file is no program: after it the
# window shows text 7 and waits with its OK button, its bar at 100 % (a
# started installer would end the window while the value is read).
body = b"<html>" + os.urandom(2 * 1024 * 1024)
readings, lines, calls = manager_window("download", lambda site: site.publish(
    "ENG", Route(b"%d\r\nnews\r\n" % len(body)), Route(body, chunks=[65536] * 40, delay=0.1)))
values = values_of(lines)
failures = [line for line in lines if line.startswith("hresult=")]
print(f"accessible values read from another process: {values}; {readings.get('value_events')} value-change events"
      f" ({readings.get('other_events')} others), {readings.get('reads')} reads; failures: {sorted(set(failures))}")
check(readings.get("open") == "1", "the window waits with its OK button (text 7)")
check(readings.get("role") == str(ROLE_SYSTEM_PROGRESSBAR), f"role: progress bar (0x30): {readings.get('role')}")
check(readings.get("name") == STATUS_TEXTS[1], f"name: the window's title: {readings.get('name')!r}")
check(len(values) >= 3 and values == sorted(values), f"the value rises with the download: {values}")
check(values[-1:] == [100], f"and reads 100% at the end: {values[-1:]}")
check(not failures, f"every read from outside succeeded: {failures[:3]}")
events = int(readings.get("value_events", "0"))
check(readings.get("hook") == "1" and len(values) <= events <= 101,
      f"value-change events seen from outside: {events}, at most 101 and at least one per value read")


def check_taskbar(case, calls, failed):
    states = [c for c in calls if c.startswith("state:")]
    percents = [int(c[6:]) for c in calls if c.startswith("value:")]
    check(calls[:1] == [f"state:{TBPF_NORMAL}"], f"{case}: taskbar: normal progress first: {calls[:2]}")
    check(percents and percents == sorted(set(percents)) and percents[-1] == 100 and len(percents) <= 101,
          f"{case}: taskbar: each whole percent once, rising to 100: {len(percents)} values, "
          f"{percents[:3]}..{percents[-2:]}")
    ending = [f"state:{TBPF_ERROR}", f"state:{TBPF_NOPROGRESS}"] if failed else [f"value:100", f"state:{TBPF_NOPROGRESS}"]
    check(calls[-2:] == ending and states.count(f"state:{TBPF_ERROR}") == (1 if failed else 0),
          f"{case}: taskbar: {'error state, then ' if failed else ''}cleared at the end: {states}")
    check(not any(c.startswith("other-window") for c in calls), f"{case}: taskbar: every call names the manager window")


check_taskbar("text 7", calls, True)
# A run that starts its installer: cleared at the end, never an error.
body = installer + os.urandom(512 * 1024)
readings, lines, calls = manager_window("started", lambda site: site.publish(
    "ENG", Route(b"%d\r\nnews\r\n" % len(body)), Route(body, chunks=[65536] * 10, delay=0.05)))
check(readings.get("open") == "0", "started: the window ended by itself")
check_taskbar("started", calls, False)
finish()
