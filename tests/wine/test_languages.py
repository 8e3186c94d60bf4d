"""The manager window speaks the language the user picked: for each of the
chooser's eleven languages, under a locale whose code page shows it, the
real program's title and texts 2 and 3 (a run whose configuration servers
answer nothing usable), and all seven texts as the program loads them from
its own file. English stays byte for byte what it was; a language whose
characters the system's code page lacks is shown in English. Screenshots of
the German and the Japanese window after the failure."""
import os
import re

import urllib.parse

from harness import (STATUS_TEXTS, Route, TestServer, Wine, Xvfb, capture_screen, check, finish, parse_args,
                     parse_probe, read_cache, unescape, use_virtual_desktop, write_png)

args = parse_args()
build, work = args.windows_build, args.work
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
program = os.path.join(build, "tembra.exe")
probe = os.path.join(build, "tembra_probe.exe")
driver_exe = os.path.join(build, "tembra_driver.exe")
xvfb = Xvfb(work)
wine = Wine(args.prefix, display=xvfb.display)
use_virtual_desktop(wine)
screenshots = os.path.join(work, "screenshots")
os.makedirs(screenshots)

CODES = ["CHT", "DEU", "ENG", "SPA", "FRE", "ITA", "JAP", "KOR", "DUT", "POR", "SWE"]
# A locale of each language, and the ANSI code page Wine gives it.
LOCALES = {"CHT": ("zh_TW.UTF-8", "cp950"), "DEU": ("de_DE.UTF-8", "cp1252"), "ENG": ("en_US.UTF-8", "cp1252"),
           "SPA": ("es_ES.UTF-8", "cp1252"), "FRE": ("fr_FR.UTF-8", "cp1252"), "ITA": ("it_IT.UTF-8", "cp1252"),
           "JAP": ("ja_JP.UTF-8", "cp932"), "KOR": ("ko_KR.UTF-8", "cp949"), "DUT": ("nl_NL.UTF-8", "cp1252"),
           "POR": ("pt_PT.UTF-8", "cp1252"), "SWE": ("sv_SE.UTF-8", "cp1252")}


def translations():
    """Each language's texts 1 to 7 as its resource script gives them."""
    texts = {"ENG": dict(STATUS_TEXTS)}
    for code in CODES:
        if code == "ENG":
            continue
        script = open(os.path.join(SOURCE, "res", "translations", code.lower() + ".rc"), encoding="utf-8").read()
        entries = re.findall(r'^\s*(\d+)\s+"(.*)"\s*$', script, re.MULTILINE)
        base = (CODES.index(code) + 1) * 16
        texts[code] = {int(n) - base: t.replace("\\r\\n", "\r\n") for n, t in entries}
        check(sorted(texts[code]) == list(range(1, 8)), f"{code}: texts 1 to 7 at {base + 1}..{base + 7}")
        for number, text in texts[code].items():
            check(text.count("\r\n") == STATUS_TEXTS[number].count("\r\n") and "\\" not in text.replace("\r\n", ""),
                  f"{code} {number}: the English text's line breaks and no other escapes: {text!r}")
    return texts


TEXTS = translations()


def decoded(value, codepage):
    """A text the Windows side printed (bytes as \\xNN) in its code page."""
    return value.encode("latin-1").decode(codepage, errors="replace") if value is not None else None


def escaped(text, codepage):
    """text in codepage with every byte beyond ASCII as \\xNN, as the helper
    takes it (the command line keeps only ASCII where the C library lacks
    the locale)."""
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else f"\\x{b:02X}" for b in text.encode(codepage))


def drive(locale, codepage, *command):
    """The automation helper under locale, its values decoded."""
    _, out, _ = wine.run(driver_exe, [escaped(str(part), codepage) for part in command], cwd=work,
                         env_extra={"LC_ALL": locale})
    values = {key: decoded(value, codepage) for key, value in parse_probe(out).items()}
    seen = [decoded(unescape(line[5:]), codepage) for line in out.splitlines() if line.startswith("seen=")]
    return values, seen, out


def slow_junk_servers():
    """Both configuration servers answer, slowly, with nothing usable: the
    window shows text 2 for a while (the waits answer the helper's reads),
    then text 3, without the pauses that unreachable servers bring."""
    servers = []
    for setting in ("TEMBRA_PRIMARY_SERVER", "TEMBRA_FALLBACK_SERVER"):
        address = urllib.parse.urlsplit(read_cache(build, setting))
        server = TestServer(address.port)
        server.reset({address.path: Route(b"no keys", chunks=[1] * 7, delay=0.12)})
        servers.append(server)
    return servers


def probe_texts(language, locale, codepage):
    code, out, err = wine.run(probe, ["status-texts", wine.unix_to_windows(program), language], cwd=work,
                              env_extra={"LC_ALL": locale})
    result = parse_probe(out)
    check(code == 0, f"{language} under {locale}: probe ran: {err[-200:]}")
    return result.get("acp"), {n: decoded(result.get(f"text{n}"), codepage) for n in range(1, 8)}, result


def window_run(language, locale, codepage, expected, shot=None):
    """The real program under locale, language picked in the chooser; the
    window's title and the texts it shows until the OK button comes."""
    name = f"{language} under {locale}"
    folder = os.path.join(work, f"{language}-{locale}")
    os.makedirs(folder)
    process = wine.start(program, cwd=folder, env_extra={"LC_ALL": locale}, log=os.path.join(folder, "wine.log"))
    try:
        found, _, _ = drive(locale, codepage, "find", "Language:", 30000)
        check(found.get("found") == "1", f"{name}: the chooser appears")
        drive(locale, codepage, "click", "Language:", 1015 + CODES.index(language))
        drive(locale, codepage, "click", "Language:", 1)
        title = expected[1]
        found, _, _ = drive(locale, codepage, "find", title, 30000)
        check(found.get("found") == "1", f"{name}: a window titled {title!r}")
        _, seen, _ = drive(locale, codepage, "watch-until-ok", title, 1001, 30000)
        check(seen[:1] == [expected[2]], f"{name}: text 2 first: {seen[:1]} (expected {expected[2]!r})")
        check(seen[-1:] == [expected[3]], f"{name}: text 3 last: {seen[-1:]} (expected {expected[3]!r})")
        state, _, _ = drive(locale, codepage, "state", title)
        check(state.get("title") == title, f"{name}: the title: {state.get('title')!r}")
        if shot and state.get("rect"):
            rect = tuple(int(v) for v in state["rect"].split(","))
            write_png(os.path.join(screenshots, shot), rect[2] - rect[0], rect[3] - rect[1],
                      capture_screen(xvfb.display, rect))
        drive(locale, codepage, "click", title, 1)
        process.wait(30)
        check(process.returncode == 0, f"{name}: OK ends the program")
    finally:
        if process.poll() is None:
            process.kill()


servers = slow_junk_servers()
# (language picked, locale, the language the window is expected in, screenshot)
CASES = [(code, LOCALES[code][0], code, None) for code in CODES]
CASES[CODES.index("DEU")] = ("DEU", "de_DE.UTF-8", "DEU", "manager-failed-german.png")
CASES[CODES.index("JAP")] = ("JAP", "ja_JP.UTF-8", "JAP", "manager-failed-japanese.png")
# Japanese on a Western system, German on a Japanese one (no umlauts in
# Shift-JIS): English throughout, never a mix and never question marks.
CASES += [("JAP", "en_US.UTF-8", "ENG", None), ("DEU", "ja_JP.UTF-8", "ENG", None)]
for language, locale, shown, shot in CASES:
    codepage = dict(LOCALES.values()).get(locale, "cp1252")
    expected = TEXTS[shown]
    acp, loaded, raw = probe_texts(language, locale, codepage)
    check(acp == codepage[2:], f"{language} under {locale}: code page {acp}")
    check(loaded == expected, f"{language} under {locale}: texts 1 to 7 in {shown}: "
                              f"{[n for n in loaded if loaded[n] != expected[n]]} differ: {loaded}")
    if shown == "ENG":
        check(all(raw.get(f"text{n}") == STATUS_TEXTS[n] for n in range(1, 8)),
              f"{language} under {locale}: the English texts byte for byte")
    window_run(language, locale, codepage, expected, shot)
for server in servers:
    server.close()
print("screenshots:", ", ".join(sorted(os.listdir(screenshots))))
finish()
