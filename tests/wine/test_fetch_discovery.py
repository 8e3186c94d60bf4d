"""FetchText and DiscoverDownloadBase under Wine against HTTP servers on
127.0.0.1 that play the configuration servers at the build's addresses."""
import os
import socket
import struct
import threading
import time
import urllib.parse

from harness import (Route, TestServer, Wine, check, finish, free_port, parse_args, parse_probe,
                     read_cache, scramble)

args = parse_args()
probe = os.path.join(args.windows_build, "tembra_probe.exe")
wine = Wine(args.prefix)
AGENT = "Tembra Download Manager"


def probe_run(*probe_args):
    code, out, err = wine.run(probe, list(probe_args), cwd=args.work)
    check(code == 0, f"probe {probe_args} exited {code}: {err[-500:]}")
    return parse_probe(out)


# --- FetchText -------------------------------------------------------------
server = TestServer()
long_body = bytes((i * 7 + 1) % 251 + 1 for i in range(30000))
server.reset({"/long": Route(long_body), "/small": Route(b"iFlag=0|sDlurl=x")})
out_file = os.path.join(args.work, "fetched.bin")
out_name = "fetched.bin"  # the probe runs in the work folder

result = probe_run("fetch", f"http://127.0.0.1:{free_port()}/nothing-listens", out_name)
check(result.get("result") == "0", f"unreachable address gives false: {result}")
check(result.get("length") == "0" and result.get("terminated") == "1", f"and an empty text: {result}")

# A server that resets the first connection before any answer, then answers:
# the fetch is tried once more, after 2 s. An answer is never asked twice.
resets = socket.create_server(("127.0.0.1", 0))
seen = []


def reset_first_then_answer():
    for number in range(2):
        conn, _ = resets.accept()
        seen.append(time.monotonic())
        conn.recv(65536)
        if number == 0:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        else:
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nagain")
        conn.close()


threading.Thread(target=reset_first_then_answer, daemon=True).start()
result = probe_run("fetch", f"http://127.0.0.1:{resets.getsockname()[1]}/reset", out_name)
check(result.get("result") == "1" and open(out_file, "rb").read() == b"again",
      f"a reset before the answer: asked again, and the second answer is the text: {result}")
check(len(seen) == 2 and seen[1] - seen[0] >= 1.9, f"the second try 2 s after the first: {seen}")
resets.close()

result = probe_run("fetch", server.url("/long"), out_name)
fetched = open(out_file, "rb").read()
check(result.get("result") == "1", f"long body: {result}")
check(result.get("terminated") == "1", "the terminator stays inside the buffer")
check(0 < len(fetched) <= 21999, f"a long body is cut to the buffer less its terminator: {len(fetched)}")
check(long_body.startswith(fetched), "the text is the start of the body")
print(f"long body of {len(long_body)} bytes: one read kept {len(fetched)}")

result = probe_run("fetch", server.url("/missing"), out_name)
check(result.get("result") == "1", f"a 404 page is read like any body: {result}")
check(server.paths().count("/missing") == 1, "and asked once")
check(open(out_file, "rb").read() == b"<html>not found</html>", "the error page is the text")

result = probe_run("fetch", server.url("/small"), out_name)
check(open(out_file, "rb").read() == b"iFlag=0|sDlurl=x", "small body read whole")
agents = {headers.get("User-Agent") for _, headers in server.requests}
check(agents == {AGENT}, f"every request carries the agent name: {agents}")
server.close()

# --- Discovery -------------------------------------------------------------
primary_url = urllib.parse.urlsplit(read_cache(args.windows_build, "TEMBRA_PRIMARY_SERVER"))
fallback_url = urllib.parse.urlsplit(read_cache(args.windows_build, "TEMBRA_FALLBACK_SERVER"))
check(primary_url.hostname == "127.0.0.1" and fallback_url.hostname == "127.0.0.1",
      "the tested build asks the loopback servers")


def answer(text):
    return Route(scramble(args.tool, text))


def discover(primary_routes, fallback_routes):
    """Runs discovery with each server up (a route table) or down (None).
    Returns the probe's result, the URL buffer and the paths each server saw."""
    servers = {}
    for name, address, routes in (("primary", primary_url, primary_routes),
                                  ("fallback", fallback_url, fallback_routes)):
        if routes is not None:
            servers[name] = TestServer(address.port)
            table = {}
            for path, route in routes.items():
                table[address.path if path == "" else path] = route
            servers[name].reset(table)
    result = probe_run("discover")
    seen = {name: s.paths() for name, s in servers.items()}
    for s in servers.values():
        s.close()
    return result.get("result"), result.get("url"), seen


P = f"http://127.0.0.1:{primary_url.port}"

ok, url, seen = discover(None, {"": answer("iFlag=0|sDlurl=http://dl/X/")})
check(ok == "1" and url == "http://dl/X/", f"primary down, fallback final: {ok} {url!r}")
check(seen["fallback"] == [fallback_url.path], f"fallback asked once: {seen}")

ok, url, seen = discover({"": answer(f"iFlag=1|sUrl={P}/a"),
                          "/a": answer(f"iFlag=0|sUrl={P}/b|sDlurl=http://dl/X/"),
                          "/b": answer("iFlag=0|sDlurl=http://wrong/")},
                         {"": answer("iFlag=0|sDlurl=http://wrong/")})
check(ok == "1" and url == "http://dl/X/", f"redirect then final answer: {ok} {url!r}")
check(seen["primary"] == [primary_url.path, "/a"], f"the final answer's sUrl is never fetched: {seen}")
check(seen["fallback"] == [], f"the fallback is not asked: {seen}")

ok, url, seen = discover({"": answer("iFlag=2")}, None)
check(ok == "0", f"non-zero flag without sUrl and fallback down: {ok} {url!r}")

ok, url, seen = discover({"": answer("iFlag=0")}, {"": answer("iFlag=0|sDlurl=http://wrong/")})
check(ok == "0", f"iFlag=0 alone fails: {ok} {url!r}")
check(seen["fallback"] == [], f"and the fallback is never asked: {seen}")

ok, url, seen = discover({"": answer(f"sUrl={P}/a"), "/a": answer("iFlag=0|sDlurl=http://wrong/")},
                         {"": answer("iFlag=0|sDlurl=http://dl/F/")})
check(ok == "1" and url == "http://dl/F/", f"sUrl without iFlag passes on to the fallback: {ok} {url!r}")
check(seen["primary"] == [primary_url.path], f"and its sUrl is not fetched: {seen}")

ok, url, seen = discover({"": answer(f"iFlag=0|sUrl={P}/a"), "/a": answer("iFlag=0|sDlurl=http://dl/A/")},
                         {"": answer("iFlag=0|sDlurl=http://wrong/")})
check(ok == "1" and url == "http://dl/A/", f"iFlag=0 with sUrl and no sDlurl is followed: {ok} {url!r}")

ok, url, seen = discover({"": answer("iFlag=0|sDlurl=http://dl/a\nb\n")}, None)
check(ok == "1" and url == "http://dl/a\r\nb\r\n", f"LF in sDlurl yields CR LF: {url!r}")

ok, url, seen = discover({"": Route(b"<html>not found</html>", status=404)},
                         {"": answer("iFlag=0|sDlurl=http://dl/F/")})
check(ok == "1" and url == "http://dl/F/", f"an error page passes on to the fallback: {ok} {url!r}")

ok, url, seen = discover({"": answer(f"iFlag=1|sUrl={P}{primary_url.path}")},
                         {"": answer("iFlag=0|sDlurl=http://dl/F/")})
check(ok == "1" and url == "http://dl/F/", f"an endless redirect loop passes on to the fallback: {ok} {url!r}")
check(len(seen["primary"]) == 17, f"after the first request and 16 redirects: {len(seen['primary'])}")

ok, url, seen = discover(None, None)
check(ok == "0", f"both servers down: {ok}")

finish()
