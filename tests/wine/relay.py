"""A relay of the tests' own in front of nginx, which drops, holds, strips,
refuses or answers installer requests on purpose (tests of resumed and
pinned downloads)."""
import socket
import struct
import threading
import time

from harness import deadline_poll, read_request_head, request_head_fields, serve_connections, unsent


class Relay:
    """Passes connections on to nginx. The installer requests (paths ending
    in .exe), in order, meet plan's actions: ("reset", N) forwards N bytes of
    the body, then resets the connection; ("hold", N) forwards N bytes, then
    holds the connection open until the relay closes (held is set once the
    program has read them); ("outage", N, S) forwards N bytes, then refuses
    connections (its port closed) and resets this one, for S seconds or, S
    None, for good (outage_at: when); "strip-range" drops Range and If-Range,
    as a server that ignores them; "busy" answers 503 with Retry-After: 1;
    "404" answers 404. Later ones pass. One request per connection."""

    def __init__(self, upstream_port, plan):
        self.upstream, self.plan = upstream_port, list(plan)
        self.exe_requests, self.exe_body_bytes, self.lock = [], 0, threading.Lock()
        self.held, self.stopping, self.outage_at, self.closed = threading.Event(), threading.Event(), None, False
        self.port = 0
        self._listen()

    def _listen(self):
        with self.lock:
            if self.closed:
                return
            self.sock = socket.create_server(("127.0.0.1", self.port))
            self.port = self.sock.getsockname()[1]
        serve_connections(self.sock, self._serve)

    def _refuse(self, seconds):
        self._stop_listening()
        if seconds is not None:
            threading.Timer(seconds, self._listen).start()

    def _serve(self, conn):
        with conn:
            request = read_request_head(conn)
            if request is None:
                return
            head, headers = request_head_fields(request)
            action = "pass"
            exe = head[0].split(" ")[1].endswith(".exe")
            if exe:
                with self.lock:
                    self.exe_requests.append(headers)
                    index = len(self.exe_requests) - 1
                action = self.plan[index] if index < len(self.plan) else "pass"
            if action == "busy":
                conn.sendall(b"HTTP/1.1 503 Busy\r\nRetry-After: 1\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            if action == "404":
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found")
                return
            dropped = ("range", "if-range", "connection") if action == "strip-range" else ("connection",)
            lines = [head[0]] + [line for line in head[1:] if line.partition(":")[0].strip().lower() not in dropped]
            with socket.create_connection(("127.0.0.1", self.upstream)) as up:
                up.sendall(("\r\n".join(lines + ["Connection: close"]) + "\r\n\r\n").encode("latin-1"))
                self._pump(up, conn, exe, action if isinstance(action, tuple) else None)

    def _pump(self, up, conn, exe, action):
        response, body = b"", None
        limit = action[1] if action else None
        while True:
            piece = up.recv(65536)
            if not piece:
                return
            if body is None:
                response += piece
                if b"\r\n\r\n" not in response:
                    continue
                header, piece = response.split(b"\r\n\r\n", 1)
                conn.sendall(header + b"\r\n\r\n")
                body = 0
            if limit is not None and body + len(piece) >= limit:
                piece = piece[:limit - body]
            conn.sendall(piece)
            body += len(piece)
            if exe:
                with self.lock:
                    self.exe_body_bytes += len(piece)
            if limit is not None and body >= limit:
                # Ends, or holds, only once the program has read all: a reset
                # drops what it has not read, and the cut must lie where it
                # was counted.
                deadline_poll(lambda: unsent(conn) == 0, 30)
                if action[0] == "hold":
                    self.held.set()
                    self.stopping.wait(300)
                    return
                if action[0] == "outage":
                    self.outage_at = time.monotonic()
                    self._refuse(action[2])
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return

    def _stop_listening(self):
        # A blocked accept() keeps a closed socket listening; a shutdown
        # wakes it and ends the listening at once.
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()

    def close(self):
        with self.lock:
            self.closed = True
        self.stopping.set()
        self._stop_listening()
