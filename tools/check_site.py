#!/usr/bin/env python3
"""`tembra_tool check MANIFEST [--ca FILE]`: asks the live servers of a
published tree everything the program asks, the way the program asks it,
and compares the answers with the manifest that publish wrote.

    tembra_tool check site/manifest.json [--ca extra-ca.pem]

Each configuration server's chain of answers is followed as the program
follows it (same User-Agent, HTTP redirects too) and must lead to the
manifest's download base, with its mirrors in order and a pin (size and
SHA-256) per installer that agrees with the manifest; from the download
base and every mirror, each language's info file and installer, in both
package variants, must match the manifest (the info file's size line, the
installer's status, Content-Length, size and SHA-256 as pinned). https
certificates must be valid for their host names (--ca adds a CA to the
system's). One verdict line per file, then a summary; exit 1 on any
mismatch.

tembra_tool runs this script with --tool, its own path, to descramble.
"""
import hashlib
import json
import os
import ssl
import stat
import subprocess
import sys
import urllib.error
import urllib.request

USER_AGENT = "Tembra Download Manager"  # the program's INTERNET_AGENT
TEXT_READ = 21999  # the program reads at most TEXT_BUFFER_SIZE - 1 bytes of a text
MAX_REDIRECTS = 16  # answers with sUrl followed per server (MAX_REDIRECTS_PER_SERVER)
MAX_MIRRORS = 4  # mirrors the program reads (MAX_MIRRORS)
PIN_KEY = "sPin_"  # PIN_KEY_PREFIX
TIMEOUT = 30


class Problem(Exception):
    pass


def find_value(text, key):
    """Where key's value starts: at the text's start or after '|', '=' following."""
    at = 0
    while True:
        at = text.find(key + "=", at)
        if at < 0:
            return None
        if at == 0 or text[at - 1] == "|":
            return at + len(key) + 1
        at += 1


def raw_value(text, key):
    start = find_value(text, key)
    if start is None:
        return None
    end = text.find("|", start)
    return text[start:] if end < 0 else text[start:end]


def int_value(text, key):
    value = raw_value(text, key)
    if value is None or any(c not in "0123456789-" for c in value):
        return None
    digits, sign = value, 1
    if digits.startswith("-"):
        sign, digits = -1, digits[1:]
    number = 0
    for c in digits:
        if not c.isdigit():
            break
        number = number * 10 + int(c)
    number = (sign * number) & 0xFFFFFFFF
    return number - (1 << 32) if number >= 1 << 31 else number


def str_value(text, key):
    value = raw_value(text, key)
    return None if value is None else value.replace("\n", "\r\n")


def mirrors_of(text):
    """sMirror1, sMirror2 ... as the program reads them: up to the first number missing."""
    found = []
    for number in range(1, MAX_MIRRORS + 1):
        value = str_value(text, f"sMirror{number}")
        if value is None:
            break
        found.append(value)
    return found


def pins_of(text):
    """Every pin field, the first of each name, as the program would read it: name -> "size:hex"
    (the hex in lower case), or None where the program would find no usable pin."""
    pins = {}
    for field in text.split("|"):
        key, eq, value = field.partition("=")
        if not eq or not key.startswith(PIN_KEY) or key[len(PIN_KEY):] in pins:
            continue
        size, colon, digest = value.partition(":")
        usable = (colon and size.isascii() and size.isdigit() and 1 <= int(size) <= 0x7FFFFFFF and len(digest) == 64
                  and all(c in "0123456789abcdefABCDEF" for c in digest))
        pins[key[len(PIN_KEY):]] = f"{int(size)}:{digest.lower()}" if usable else None
    return pins


def total_size(line):
    """strtol on the info file's first line, wrapped to 32 bits as the program reads it."""
    line = line.lstrip(" \t\r\v\f")
    sign = -1 if line.startswith("-") else 1
    line = line[1:] if line[:1] in "+-" else line
    digits = ""
    for c in line:
        if not c.isdigit():
            break
        digits += c
    number = (sign * int(digits or "0")) & 0xFFFFFFFF
    return number - (1 << 32) if number >= 1 << 31 else number


class Checker:
    def __init__(self, tool, ca):
        self.tool = tool
        context = ssl.create_default_context()
        if ca:
            context.load_verify_locations(cafile=ca)
        self.opener = urllib.request.build_opener(urllib.request.HTTPSHandler(context=context))
        self.verdicts = []

    def verdict(self, ok, url, text):
        self.verdicts.append(ok)
        print(f"{'ok  ' if ok else 'FAIL'} {url}: {text}", flush=True)

    def open(self, url):
        request = urllib.request.Request(url, headers={"User-Agent": USER_AGENT, "Pragma": "no-cache"})
        try:
            response = self.opener.open(request, timeout=TIMEOUT)
        except urllib.error.HTTPError as error:
            raise Problem(f"status {error.code}")
        except urllib.error.URLError as error:
            raise Problem(f"cannot fetch: {error.reason}")
        except OSError as error:
            raise Problem(f"cannot fetch: {error}")
        if response.status != 200:
            raise Problem(f"status {response.status}")
        return response

    def text(self, url):
        """A text as the program reads it: at most 21,999 bytes, cut at a NUL."""
        with self.open(url) as response:
            data = response.read(TEXT_READ + 1)
        if len(data) > TEXT_READ:
            raise Problem(f"longer than the program's {TEXT_READ}-byte read")
        return data.split(b"\0")[0]

    def descramble(self, data):
        result = subprocess.run([self.tool, "descramble"], input=data, capture_output=True)
        if result.returncode:
            raise Problem(result.stderr.decode(errors="replace").strip())
        return result.stdout.decode("latin-1")

    def walk(self, server, base, mirrors, pins):
        """One configuration server's chain, as the program walks it; the final answer must
        name base, the mirrors in order and, where pins is not None, exactly those pins."""
        url, flag = server, -1
        for _ in range(MAX_REDIRECTS + 1):
            try:
                answer = self.descramble(self.text(url))
            except Problem as problem:
                return self.verdict(False, url, str(problem))
            flag = int_value(answer, "iFlag")
            if flag is None:
                return self.verdict(False, url, "no usable iFlag: the program gives up on this server")
            next_url = str_value(answer, "sUrl")
            if next_url is None or (flag == 0 and str_value(answer, "sDlurl") is not None):
                found = str_value(answer, "sDlurl")
                if flag != 0 or found is None:
                    return self.verdict(False, url, f"iFlag {flag} without a download base: no usable answer")
                if found != base:
                    return self.verdict(False, url, f"leads to the download base {found}, the manifest's is {base}")
                said = mirrors_of(answer)
                if said != mirrors:
                    return self.verdict(False, url, f"names the mirrors {said}, the manifest's are {mirrors}")
                if pins is None:
                    return self.verdict(True, url, f"download base {found}")
                said = pins_of(answer)
                for name in sorted(set(said) | set(pins)):
                    if said.get(name) != pins.get(name):
                        return self.verdict(False, url, f"pins {name} as {said.get(name, 'nothing')}, "
                                                        f"the manifest as {pins.get(name, 'nothing')}")
                return self.verdict(True, url, f"download base {found}, {len(mirrors)} mirrors, {len(pins)} pins")
            self.verdict(True, url, f"redirect to {next_url}")
            url = next_url
        self.verdict(False, url, f"more than {MAX_REDIRECTS} redirects: the program gives up")

    def info(self, url, size):
        try:
            text = self.text(url).decode("latin-1")
        except Problem as problem:
            return self.verdict(False, url, str(problem))
        if "\n" not in text:
            return self.verdict(False, url, "no line break: the program cannot parse it")
        said = total_size(text.split("\n")[0])
        if said != size:
            return self.verdict(False, url, f"size line says {said}, the installer has {size} bytes")
        self.verdict(True, url, f"size {said}")

    def installer(self, url, size, sha256):
        try:
            with self.open(url) as response:
                length = response.headers.get("Content-Length")
                digest, count = hashlib.sha256(), 0
                while True:
                    piece = response.read(1 << 20)
                    if not piece:
                        break
                    digest.update(piece)
                    count += len(piece)
        except (Problem, OSError) as problem:
            return self.verdict(False, url, str(problem))
        if length != str(size):
            return self.verdict(False, url, f"Content-Length {length}, the manifest says {size}")
        if count != size:
            return self.verdict(False, url, f"{count} bytes arrived, the manifest says {size}")
        if digest.hexdigest() != sha256:
            return self.verdict(False, url, f"SHA-256 {digest.hexdigest()}, the manifest says {sha256}")
        self.verdict(True, url, f"{size} bytes, SHA-256 as published")


def main(argv):
    if "--help" in argv or "-h" in argv:
        print(__doc__.split("\n\n", 1)[1].split("\ntembra_tool runs")[0].replace(
            "    tembra_tool check", "usage: tembra_tool check", 1).strip())
        return 0
    tool = argv[argv.index("--tool") + 1]
    rest = [a for i, a in enumerate(argv) if a != "--tool" and (i == 0 or argv[i - 1] != "--tool")]
    ca = rest[rest.index("--ca") + 1] if "--ca" in rest else None
    manifest_path = [a for i, a in enumerate(rest) if a != "--ca" and (i == 0 or rest[i - 1] != "--ca")][0]
    try:
        for path in [manifest_path] + ([ca] if ca else []):
            if not stat.S_ISREG(os.stat(path).st_mode):
                raise Problem(f"{path}: not a regular file")
        with open(manifest_path, encoding="utf-8") as f:
            manifest = json.load(f)
        base, downloads = manifest["download_base"], manifest["downloads"]
        servers = [manifest["primary"], manifest["fallback"]]
        # Trees published before pins and mirrors have neither.
        mirrors, pins = manifest.get("mirrors", []), manifest.get("pins")
        published = {e["variant"] + e["language"] + ".exe": f"{e['size']}:{e['sha256']}" for e in downloads}
        if pins is not None and pins != published:
            raise ValueError("its pins disagree with its downloads")
        checker = Checker(tool, ca)
    except OSError as error:
        print(f"tembra_tool check: {error.filename}: {error.strerror}", file=sys.stderr)
        return 1
    except (ValueError, KeyError, TypeError) as error:
        print(f"tembra_tool check: {manifest_path}: not a manifest of tembra_tool publish ({error})", file=sys.stderr)
        return 1
    except (Problem, ssl.SSLError) as error:
        print(f"tembra_tool check: {error}", file=sys.stderr)
        return 1
    for server in servers:
        checker.walk(server, base, mirrors, pins)
    for served_from in [base] + mirrors:
        for entry in downloads:
            stem = served_from + entry["variant"] + entry["language"]
            checker.info(f"{stem}.{entry['language']}", entry["size"])
            checker.installer(f"{stem}.exe", entry["size"], entry["sha256"])
    failed = checker.verdicts.count(False)
    print(f"{len(checker.verdicts)} files checked, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
