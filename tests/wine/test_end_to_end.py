"""The real program under Wine in an X server of the test's own, driven from
outside by the automation helper, against configuration and download
servers on 127.0.0.1."""
import os
import subprocess

from display_dpi import system_dpi
from harness import (STATUS_TEXTS, Automation, Route, Site, Wine, Xvfb, check, deadline_poll, download_folders,
                     downloading, finish, installer_image, parse_args, parse_probe, previous_installation, read_cache,
                     support_log, unescape)

args = parse_args()
build = args.windows_build
driver_exe = os.path.join(build, "tembra_driver.exe")
probe = os.path.join(build, "tembra_probe.exe")
installer = open(os.path.join(build, "test_installer.exe"), "rb").read()
screenshots = os.path.join(args.work, "screenshots")
os.makedirs(screenshots)
xvfb = Xvfb(args.work)
wine = Wine(args.prefix, display=xvfb.display)
# A virtual desktop stands in for a window manager: without one, Wine waits
# about 2 s each time a top-level window goes.
wine.reg("add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d", "Default", "/f")
wine.reg("add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default", "/d", "1024x768", "/f")
KEY = "HKLM\\" + read_cache(build, "TEMBRA_REGISTRY_KEY")
CHOOSER, MANAGER = "Language:", "Downloading..."
VK_RETURN, VK_ESCAPE = "0x0D", "0x1B"
SC_CLOSE, SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE = "0xF060", "0xF030", "0xF020", "0xF120"


auto = Automation(wine, build, args.work)


def driver(*command):
    out = auto.raw(*command)
    return parse_probe(out), out


def controls(out):
    """control id -> {visible, checked} from a state listing."""
    found = {}
    for line in out.splitlines():
        if line.startswith("control="):
            fields = dict(part.split("=", 1) for part in line.split(" "))
            found[int(fields["control"])] = fields
    return found


class Run:
    """One start of a copy of the program in a folder of its own."""

    def __init__(self, name, first="E2E", second="RUN", env_extra=None):
        self.folder = os.path.join(args.work, name)
        os.makedirs(self.folder)
        self.program = os.path.join(self.folder, "tembra.exe")
        subprocess.run([args.tool, "stamp", os.path.join(build, "tembra.exe"), self.program, first, second], check=True)
        self.process = wine.start(self.program, cwd=self.folder, env_extra=env_extra,
                                  log=os.path.join(self.folder, "wine.log"))

    def wait(self, timeout=90):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None

    def file(self, name):
        path = os.path.join(self.folder, name)
        return open(path, "rb").read() if os.path.exists(path) else None


def wait_for(title, timeout_ms=30000):
    if auto.wait_for(title, timeout_ms):
        return check(True)
    # For the report: where the program stands, in its own words.
    chooser = auto("state", CHOOSER).get("found") == "1"
    log = (support_log(args.prefix) or "").splitlines()[-8:]
    return check(False, f"window {title!r} appears (chooser {'still open' if chooser else 'gone'}; "
                        f"the support log ends: {log})")


status_text = auto.status


def choose(language_control=None, confirm_key=None):
    """Waits for the chooser, picks a language (or keeps the preselection),
    then OK: clicked, or confirm_key pressed."""
    if not wait_for(CHOOSER):
        return None
    _, out = driver("state", CHOOSER)
    preselected = [cid for cid, c in controls(out).items() if c["checked"] == "1"]
    if language_control:
        driver("click", CHOOSER, str(language_control))
        deadline_poll(lambda: controls(driver("state", CHOOSER)[1]).get(language_control, {}).get("checked") == "1", 10)
    if confirm_key:
        driver("key", CHOOSER, confirm_key)
    else:
        driver("click", CHOOSER, "1")
    return preselected


def capture(title, name):
    """Saves the window as the X server shows it as a PNG screenshot; returns
    its screen rectangle and pixels."""
    rect, rows = auto.screenshot(title, os.path.join(screenshots, name + ".png"), xvfb.display)
    check(rect is not None, f"window {title!r} for screenshot {name}")
    return rect, rows


def delete_key():
    wine.reg("delete", KEY, "/ve", "/f")  # the ID only: the key also lists the download folders


def check_progress_pixels(window_rect, rows, control_rect):
    """The bar in a screenshot: frames, and segments of w - 1 pixels from x = 2."""
    left, top = control_rect[0] - window_rect[0], control_rect[1] - window_rect[1]
    width, height = control_rect[2] - control_rect[0], control_rect[3] - control_rect[1]
    bar = [row[left:left + width] for row in rows[top:top + height]]
    face = bar[1][1]
    black, navy = (0, 0, 0), (0, 0, 128)
    check(all(p == black for p in bar[0] + bar[-1]) and all(r[0] == black and r[-1] == black for r in bar),
          "screenshot: outer frame black")
    check(all(r[1] == face and r[-2] == face for r in bar[1:-1]), "screenshot: inner frame in the button face")
    w = (width - 4) // 20
    middle = bar[height // 2]
    segments = 0
    while 2 + segments * w < width - 2 and middle[2 + segments * w] == navy:
        segments += 1
    check(segments >= 1, f"screenshot: segments drawn mid-download ({segments})")
    expected = [navy if (x - 2) % w < w - 1 else face for x in range(2, 2 + segments * w)]
    check(middle[2:2 + segments * w] == expected, f"screenshot: {segments} segments of {w - 1} pixels with gaps")
    check(all(bar[y][2:2 + segments * w] == middle[2:2 + segments * w] for y in range(2, height - 2)),
          "screenshot: segments from y = 2 to H - 3")
    return segments


# --- The whole road ------------------------------------------------------------------
delete_key()
previous, previous_files = previous_installation(wine, probe, args.work, "TembraE2EPrevious")
site = Site(args)
body = installer + os.urandom(3 * 1024 * 1024)
news = b"".join(b"News line %d\r\n" % i for i in range(1, 5))
site.publish("ENG", Route(b"%d\r\n" % len(body) + news), Route(body, chunks=[65536] * 60, delay=0.12))
left_before = set(download_folders(wine))  # by earlier tests; the run may remove them
run = Run("whole-road")
capture(CHOOSER, "language-chooser") if wait_for(CHOOSER) else None
preselected = choose()
check(preselected == [1017], f"'&English' preselected: {preselected}")
views = []
progress_96 = window_96 = None
if wait_for(MANAGER):
    check(deadline_poll(lambda: (status_text() or "").startswith("News"), 30), "the news text is shown")
    _, out = driver("state", MANAGER)
    progress = controls(out).get(1003)
    window_rect, rows = capture(MANAGER, "manager-mid-download")
    if rows and progress:
        progress_96, window_96 = tuple(int(v) for v in progress["rect"].split(",")), window_rect
        check_progress_pixels(window_rect, rows, progress_96)
    _, out = driver("watch", MANAGER, "1001", "60000")
    views = [unescape(line[5:]) for line in out.splitlines() if line.startswith("seen=")]
news_views = {v for v in views if v.startswith("News")}
check(len(news_views) >= 2, f"the news text rotates: {len(news_views)} views")
check("News line 2\r\nNews line 3\r\nNews line 4\r\nNews line 1\r\n" in news_views | {""} or len(news_views) >= 2,
      "rotated views")
check(STATUS_TEXTS[6] in views, "text 6 before the installer starts")
code = run.wait()
check(code == 0, f"the process ends with 0: {code}")
check(installer_image(run.folder) == body, "the installer that ran is byte-identical to what was served")
check(run.file("tembset.exe") is None and set(download_folders(wine)) <= left_before,
      "nothing was written into the current directory, and the private download folder is gone")
check(deadline_poll(lambda: run.file("installer-ran.txt") == b"ran\r\n", 30), "the installer was started")
check(len(site.config_paths()) == 2 and site.config_paths()[1] == "/redirect",
      f"discovery went through the redirect: {site.config_paths()}")
check(len(site.fetched()) == 2 and all(f.endswith(("ENG.ENG", "ENG.exe")) for f in site.fetched()),
      f"info file and installer of ENG: {site.fetched()}")
code, out = wine.reg("query", KEY, "/ve")
check("REG_SZ" in out and "E2E_RUN" in out, f"the distribution ID is in the registry: {out.strip()!r}")
check(not os.path.exists(previous) and all(
    open(os.path.join(previous + ".old", rel), "rb").read() == data for rel, data in previous_files.items()),
    "the previous installation moved to .old with every file intact")
site.close()


# --- Language: preselection from the system, and the user's pick -------------------
def quick_site(*languages):
    site = Site(args)
    for language in languages:
        site.publish(language, Route(b"%d\n%s news\n" % (len(installer), language.encode())), Route(installer))
    return site


site = quick_site("DEU", "SWE", "ENG")
run = Run("german", env_extra={"LC_ALL": "de_DE.UTF-8"})
preselected = choose()
check(preselected == [1016], f"a German system preselects '&Deutsch': {preselected}")
check(run.wait() == 0, "the German run ends with 0")
check(any(f.endswith("DEU.exe") for f in site.fetched()), f"the DEU installer is fetched: {site.fetched()}")
site.download.reset(dict(site.download.routes))

run = Run("swedish")
choose(language_control=1025, confirm_key=VK_RETURN)
check(run.wait() == 0, "the Swedish run ends with 0")
check(any(f.endswith("SWE.exe") for f in site.fetched()) and not any(f.endswith("ENG.exe") for f in site.fetched()),
      f"picking '&Svenska' and pressing Enter fetches the SWE installer: {site.fetched()}")
site.close()

# --- Escape on the chooser ----------------------------------------------------------
delete_key()
site = quick_site("ENG")
before = download_folders(wine)
run = Run("escape-chooser")
if wait_for(CHOOSER):
    driver("key", CHOOSER, VK_ESCAPE)
check(run.wait(30) == 0, "Escape on the chooser ends the process with 0")
code, out = wine.reg("query", KEY, "/ve")
check(code != 0 or "E2E_RUN" not in out, f"no registry value written: {out.strip()!r}")
check(site.config_paths() == [] and site.fetched() == [], "nothing is requested from any server")
check(run.file("tembset.exe") is None and download_folders(wine) == before, "no installer file")
site.close()


# --- The four failure texts -----------------------------------------------------------
def failure_run(name, number, site):
    run = Run(name)
    choose()
    if wait_for(MANAGER):
        shown = deadline_poll(lambda: status_text() == STATUS_TEXTS[number], 30)
        check(shown, f"{name}: text {number} in the window: {status_text()!r}")
        if number == 3:
            capture(MANAGER, "manager-failed")
        _, out = driver("state", MANAGER)
        state = parse_probe(out)
        check(controls(out).get(1, {}).get("visible") == "1", f"{name}: the OK button is visible")
        check(state.get("focus") == "1", f"{name}: and focused: {state.get('focus')}")
        check(controls(out).get(2, {}).get("visible") == "0", f"{name}: Cancel stays hidden")
        driver("click", MANAGER, "1")
    check(run.wait(30) == 0, f"{name}: OK ends the process with 0")
    if site:
        site.close()
    return run


failure_run("text3-no-servers", 3, None)
site = Site(args)
site.publish("ENG", Route(b"abc\nnews"), Route(installer))
failure_run("text4-bad-info", 4, site)
site = Site(args)
site.publish("ENG", Route(b"1000\nnews\n"), Route(b"missing", status=404))
failure_run("text5-download-fails", 5, site)
previous, previous_files = previous_installation(wine, probe, args.work, "TembraE2EKept")
site = Site(args)
site.publish("ENG", Route(b"1000\nnews\n"), Route(b"<html><body>Not an installer</body></html>"))
failure_run("text7-no-installer", 7, site)
check(os.path.isdir(previous) and not os.path.exists(previous + ".old"), "text 7: the previous installation stays")

# --- Escape, the close box and maximise during a slowed download --------------------
site = Site(args)
slow = installer + os.urandom(2 * 1024 * 1024)
site.publish("ENG", Route(b"%d\nslow news\nsecond line\n" % len(slow)), Route(slow, chunks=[16384] * 200, delay=0.1))
run = Run("slowed")
choose()
if wait_for(MANAGER):
    deadline_poll(lambda: (status_text() or "").startswith(("slow", "second")), 30)
    before = parse_probe(driver("state", MANAGER)[1])
    driver("key", MANAGER, VK_ESCAPE)
    driver("syscommand", MANAGER, SC_CLOSE)
    driver("syscommand", MANAGER, SC_MAXIMIZE)
    # Let the window work through them: the ticker keeps turning meanwhile.
    turned = deadline_poll(lambda: (status_text() or "") != before.get("text1001"), 10)
    after = parse_probe(driver("state", MANAGER)[1])
    check(after.get("found") == "1" and run.process.poll() is None, "Escape and the close box leave the window open")
    check(turned, "the download and ticker go on")
    check(after.get("zoomed") == "0" and after.get("rect") == before.get("rect"),
          f"a maximise command leaves the normal size: {before.get('rect')} -> {after.get('rect')}")
    driver("syscommand", MANAGER, SC_MINIMIZE)
    check(deadline_poll(lambda: parse_probe(driver("state", MANAGER)[1]).get("iconic") == "1", 10), "minimised")
    driver("syscommand", MANAGER, SC_RESTORE)
    restored = deadline_poll(lambda: parse_probe(driver("state", MANAGER)[1]).get("iconic") == "0", 10)
    state = parse_probe(driver("state", MANAGER)[1])
    check(restored and state.get("rect") == before.get("rect"), "a restore brings the window back at its size")
    start, _, end = (state.get("selection1001") or "x,y").partition(",")
    check(start == end, f"no selection in the status box after the restore: {state.get('selection1001')}")
    check(state.get("caret") != "1001", f"and no caret: {state.get('caret')}")
    driver("command", MANAGER, "1")
check(run.wait(30) == 0, "command 1 during the download ends the process with 0")
check(0 < len(downloading(wine)) < len(slow), "it ended before the download did")
site.close()

# --- At 144 DPI: both dialogs laid out at the system DPI, the bar drawn at its control's size
def grown(at_96, at_144):
    """Width and height of a rectangle at 144 DPI about 1.5 times those at 96."""
    sizes = [(r[2] - r[0], r[3] - r[1]) for r in (at_96, at_144)]
    return all(1.3 <= big / small <= 1.7 for small, big in zip(*sizes)), sizes


with system_dpi(wine, 144):
    site = Site(args)
    body = installer + os.urandom(2 * 1024 * 1024)
    site.publish("ENG", Route(b"%d\r\n" % len(body) + news), Route(body, chunks=[65536] * 40, delay=0.12))
    run = Run("at-144-dpi")
    chooser_rect, _ = capture(CHOOSER, "language-chooser-144dpi") if wait_for(CHOOSER) else (None, None)
    choose()
    if wait_for(MANAGER):
        # Mid-download, as the picture at 96 DPI: about half of the segments.
        check(deadline_poll(lambda: len(downloading(wine)) >= len(body) // 2, 60), "half downloaded")
        _, out = driver("state", MANAGER)
        progress = tuple(int(v) for v in controls(out).get(1003, {}).get("rect", "0,0,0,0").split(","))
        window_rect, rows = capture(MANAGER, "manager-mid-download-144dpi")
        if rows:
            check_progress_pixels(window_rect, rows, progress)
        if progress_96:
            check(grown(progress_96, progress)[0], f"144 DPI: the progress control grows: {grown(progress_96, progress)[1]}")
            check(grown(window_96, window_rect)[0], f"144 DPI: the manager window grows: {grown(window_96, window_rect)[1]}")
        driver("command", MANAGER, "1")
    check(run.wait(30) == 0, "144 DPI: command 1 during the download ends the process with 0")
    site.close()

print("screenshots:", ", ".join(sorted(os.listdir(screenshots))))
finish()
