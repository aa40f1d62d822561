#!/usr/bin/env python3
"""A small web server for development and fault injection.

It serves a folder the way the download server does: plain files below the
root, a missing file answered by a small HTML page (status 404, or 200 with
--missing-status 200, as some servers do). On request it misbehaves for
chosen paths: it stalls, trickles, cuts a body short against its
Content-Length, answers with a small or a large HTML error page, sends a
body without Content-Length, resets the connection, answers with a part of
the file or redirects. Files are answered with an ETag and a Last-Modified
date and honour "Range: bytes=N-" (and N-M) requests, with If-Range; the
faults below can break that too. Every request is logged.

Faults are given as rules, a JSON list of objects:

  {"path": "/Downloads/*.cab",   glob over the URL path (fnmatch, case-sensitive)
   "fault": "stall",             see below
   "times": 1,                   apply to the first n matching requests only
                                 (default: every matching request)
   "skip": 1,                    let the first n matching requests pass
                                 unharmed (default 0): a server that answers
                                 once and then fails
   ...parameters of the fault}

  stall         send the headers and "after" bytes (default 0), then send
                nothing for "seconds" (default 3600); then close the
                connection ("then": "close", default) or send the rest
                ("then": "continue")
  trickle       send the body in pieces of "piece" bytes (default 1024) with
                "interval" seconds (default 0.05) between them
  cut           announce the full Content-Length, send "after" bytes
                (default half the body), then close the connection
  error-page    answer with a small HTML page and "status" (default 404)
  large-error-page
                answer with an HTML page of "size" bytes (default 65536) and
                "status" (default 404)
  no-length     send the body without Content-Length and close the connection
                at its end (HTTP/1.0 style)
  garble        send the file with every "every"th byte (default 4096) inverted
                and "extra" bytes (default 0) added at its end, announced in
                Content-Length: a whole answer that fails its checksum
  status        answer with "status" and the file's body as usual
  reset         reset the connection (TCP RST) without answering
  chunked-reset send the file with chunked transfer encoding and reset the
                connection after "after" bytes (default half the body), in
                the middle of a chunk
  partial       answer 206 with the bytes from "start" (default half the
                body) on, as if a range had been asked for
  redirect      answer "status" (default 302) with Location "to" (default
                the request's own path, a loop); "to" may be relative
  ignore-range  answer 200 with the whole file whatever range was asked for
  wrong-range   answer a range request with 206 and a range starting at
                "start" (default 0, or half the file when 0 was asked for)
  etag-change   give the file another ETag on every request, so that an
                If-Range with an earlier one never matches
  reset-every   send at most "bytes" (default a quarter of the file) of the
                answer's body, wait until they have left the server, then
                reset the connection; a range request gets the next piece

Rules come from a file (--rules, re-read whenever it changes) or from the
control endpoint, which answers below /_devserver/:

  PUT|POST /_devserver/rules   the body is the new rule list (JSON)
  GET      /_devserver/log     the request log, one JSON object a line
  POST     /_devserver/reset   clears the rules set by the endpoint and the log

Log lines (also appended to --log when a request ends): {"method", "path",
"status", "fault", "sent", "complete", "done", "range", "if_range", "start",
"ended"},
in the order the requests arrived; "sent" counts body bytes written,
"complete" is false when the connection ended before the whole body was
sent, "done" is false while the request is still being answered (a stall in
progress); "range" and "if_range" are the request's headers (or null),
"start" the offset of the first body byte served from a file, "ended" the
time the answer ended (seconds since the epoch).

On start it prints "PORT <n>" on a line of its own (port 0 picks a free
port) and, with --port-file, writes the port there.
"""

import argparse
import email.utils
import fcntl
import fnmatch
import json
import os
import posixpath
import socket
import struct
import sys
import termios
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONTROL_PREFIX = "/_devserver/"
SMALL_PAGE = (b"<!DOCTYPE html>\r\n<html><head><title>404 Not Found</title></head>\r\n"
              b"<body><h1>Not Found</h1><p>The requested file was not found.</p></body></html>\r\n")


def garbled(body, every, extra):
    data = bytearray(body)
    for i in range(0, len(data), max(1, every)):
        data[i] ^= 0xFF
    return bytes(data) + bytes(range(256)) * (extra // 256) + bytes(range(extra % 256))


def parse_range(text, size):
    """(start, end) with end exclusive for "bytes=N-" or "bytes=N-M", "bad"
    for a range that starts at or past the end, None for anything else."""
    if not text or not text.startswith("bytes=") or "," in text:
        return None
    first, _, last = text[len("bytes="):].strip().partition("-")
    if not first.isdigit() or (last and not last.isdigit()):
        return None
    start = int(first)
    end = min(int(last) + 1, size) if last else size
    if start >= size:
        return "bad"
    return (start, end) if start < end else None


def large_page(size):
    head = b"<!DOCTYPE html>\r\n<html><head><title>Fehler</title></head><body>\r\n"
    tail = b"</body></html>\r\n"
    filler = b"<p>Die angeforderte Datei ist nicht vorhanden.</p>\r\n"
    body = bytearray(head)
    while len(body) + len(tail) < size:
        body += filler
    body = bytes(body[:max(size - len(tail), len(head))]) + tail
    return body


class RuleBook:
    """The active rules and how often each has matched."""

    def __init__(self, rules_file):
        self.lock = threading.Lock()
        self.rules_file = rules_file
        self.file_mtime = None
        self.file_rules = []
        self.endpoint_rules = []
        self.applied = {}

    def _reload_file(self):
        if not self.rules_file:
            return
        try:
            mtime = os.stat(self.rules_file).st_mtime_ns
        except OSError:
            self.file_rules, self.file_mtime = [], None
            return
        if mtime != self.file_mtime:
            with open(self.rules_file, encoding="utf-8") as f:
                self.file_rules = json.load(f)
            self.file_mtime = mtime
            self.applied = {k: v for k, v in self.applied.items() if k[0] != "file"}

    def set_endpoint_rules(self, rules):
        with self.lock:
            self.endpoint_rules = rules
            self.applied = {k: v for k, v in self.applied.items() if k[0] != "endpoint"}

    def match(self, path):
        """The first rule for the path that has applications left, counted."""
        with self.lock:
            self._reload_file()
            for origin, rules in (("endpoint", self.endpoint_rules), ("file", self.file_rules)):
                for index, rule in enumerate(rules):
                    if not fnmatch.fnmatchcase(path, rule.get("path", "*")):
                        continue
                    key = (origin, index)
                    seen = self.applied.get(key, 0)
                    self.applied[key] = seen + 1
                    skip = int(rule.get("skip", 0))
                    times = rule.get("times")
                    if seen < skip or (times is not None and seen >= skip + times):
                        continue
                    return rule
            return None


class RequestLog:
    """Entries in the order the requests arrived; an entry is listed from
    its arrival on and completed in place, so a stalled request shows."""

    def __init__(self, log_file):
        self.lock = threading.Lock()
        self.log_file = log_file
        self.entries = []

    def begin(self, entry):
        with self.lock:
            self.entries.append(entry)

    def end(self, entry):
        if self.log_file:
            with self.lock, open(self.log_file, "a", encoding="utf-8") as f:
                f.write(json.dumps(entry) + "\n")

    def text(self):
        with self.lock:
            return "".join(json.dumps(entry) + "\n" for entry in self.entries)

    def clear(self):
        with self.lock:
            self.entries = []


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "devserver/1"

    def log_message(self, fmt, *args):  # the request log replaces the default stderr lines
        if self.server.verbose:
            sys.stderr.write("devserver: " + (fmt % args) + "\n")

    # Control endpoint ---------------------------------------------------
    def _control(self, method, path):
        name = path[len(CONTROL_PREFIX):]
        if name == "rules" and method in ("PUT", "POST"):
            length = int(self.headers.get("Content-Length") or 0)
            try:
                rules = json.loads(self.rfile.read(length) or b"[]")
                if not isinstance(rules, list):
                    raise ValueError("rules must be a JSON list")
            except ValueError as error:
                return self._plain(400, str(error).encode())
            self.server.rules.set_endpoint_rules(rules)
            return self._plain(200, b"ok\n")
        if name == "log" and method == "GET":
            return self._plain(200, self.server.log.text().encode())
        if name == "reset" and method == "POST":
            self.server.rules.set_endpoint_rules([])
            self.server.log.clear()
            return self._plain(200, b"ok\n")
        return self._plain(404, b"unknown control request\n")

    def _plain(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    # Files --------------------------------------------------------------
    def do_GET(self):
        self._serve(head=False)

    def do_HEAD(self):
        self._serve(head=True)

    def do_PUT(self):
        self._serve(head=False)

    def do_POST(self):
        self._serve(head=False)

    def _local_path(self, path):
        parts = [p for p in posixpath.normpath(path).split("/") if p not in ("", ".", "..")]
        return os.path.join(self.server.root, *parts)

    def _serve(self, head):
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        if path.startswith(CONTROL_PREFIX):
            return self._control(self.command, path)
        if self.command not in ("GET", "HEAD"):
            return self._plain(405, b"method not allowed\n")

        rule = self.server.rules.match(path)
        fault = rule.get("fault") if rule else None
        entry = {"method": self.command, "path": path, "fault": fault, "status": None, "sent": 0,
                 "complete": True, "done": False, "range": self.headers.get("Range"),
                 "if_range": self.headers.get("If-Range"), "start": 0}
        self.server.log.begin(entry)
        try:
            self._answer(path, rule or {}, fault, head, entry)
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            entry["complete"] = False
            self.close_connection = True
        finally:
            entry["done"] = True
            entry["ended"] = time.time()
            self.server.log.end(entry)

    def _answer(self, path, rule, fault, head, entry):
        if fault == "reset":
            entry["complete"] = False
            return self._reset()
        if fault == "redirect":
            status = int(rule.get("status", 302))
            entry["status"] = status
            self.send_response(status)
            self.send_header("Location", rule.get("to", self.path))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        local = self._local_path(path)
        if fault in FILE_FAULTS and os.path.isfile(local):
            return self._serve_file(local, rule, fault, head, entry)
        body = None
        if os.path.isfile(local):
            with open(local, "rb") as f:
                body = f.read()
        status = 200

        if fault == "error-page":
            status, body = int(rule.get("status", 404)), SMALL_PAGE
        elif fault == "large-error-page":
            status, body = int(rule.get("status", 404)), large_page(int(rule.get("size", 65536)))
        elif body is None:
            status, body = self.server.missing_status, SMALL_PAGE
            if fault not in ("stall", "trickle", "cut", "no-length"):
                fault = None
        elif fault == "status":
            status = int(rule.get("status", 200))
        elif fault == "garble":
            body = garbled(body, int(rule.get("every", 4096)), int(rule.get("extra", 0)))
        elif fault == "partial":
            start = min(int(rule.get("start", len(body) // 2)), len(body))
            whole = len(body)
            status, body = 206, body[start:]
        entry["status"] = status

        self.send_response(status)
        is_html = body is SMALL_PAGE or fault == "large-error-page"
        self.send_header("Content-Type", "text/html" if is_html else "application/octet-stream")
        if not is_html:
            etag, last_modified = self._validators(local)
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", last_modified)
        if fault == "partial":
            self.send_header("Content-Range", f"bytes {start}-{max(whole - 1, start)}/{whole}")
        if fault == "no-length":
            self.send_header("Connection", "close")
            self.close_connection = True
        elif fault == "chunked-reset":
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if head:
            return

        if fault == "stall":
            after = min(int(rule.get("after", 0)), len(body))
            self._send(body[:after], entry)
            self.wfile.flush()
            self._sleep(float(rule.get("seconds", 3600)))
            if rule.get("then", "close") == "continue":
                self._send(body[after:], entry)
            else:
                entry["complete"] = after == len(body)
                self.close_connection = True
        elif fault == "cut":
            after = min(int(rule.get("after", len(body) // 2)), len(body))
            self._send(body[:after], entry)
            entry["complete"] = after == len(body)
            self.close_connection = True
        elif fault == "chunked-reset":
            after = min(int(rule.get("after", len(body) // 2)), len(body))
            piece = 65536
            for start in range(0, after, piece):
                data = body[start:min(start + piece, len(body))]
                # The last chunk announced is cut in its middle by the reset.
                self.wfile.write(b"%x\r\n" % len(data))
                self._send(data[:after - start] if start + len(data) > after else data, entry)
                if start + len(data) <= after:
                    self.wfile.write(b"\r\n")
            self.wfile.flush()
            time.sleep(0.2)
            entry["complete"] = False
            self._reset()
        elif fault == "trickle":
            piece = max(1, int(rule.get("piece", 1024)))
            interval = float(rule.get("interval", 0.05))
            for start in range(0, len(body), piece):
                self._send(body[start:start + piece], entry)
                self.wfile.flush()
                if start + piece < len(body):
                    self._sleep(interval)
        else:
            self._send(body, entry)

    def _validators(self, local, fault=None):
        """The file's ETag and Last-Modified date."""
        info = os.stat(local)
        etag = '"%x-%x"' % (info.st_mtime_ns // 1000, info.st_size)
        if fault == "etag-change":
            with self.server.rules.lock:
                self.server.etag_serial += 1
                etag = '"%x-%x-%d"' % (info.st_mtime_ns // 1000, info.st_size, self.server.etag_serial)
        return etag, email.utils.formatdate(info.st_mtime, usegmt=True)

    def _serve_file(self, local, rule, fault, head, entry):
        """A file streamed from disk, with its validators and ranges."""
        size = os.stat(local).st_size
        etag, last_modified = self._validators(local, fault)
        start, end, status = 0, size, 200
        asked = parse_range(self.headers.get("Range"), size) if fault != "ignore-range" else None
        if_range = self.headers.get("If-Range")
        if asked and if_range is not None and if_range not in (etag, last_modified):
            asked = None  # the file changed: the whole of it
        if asked == "bad":
            entry["status"] = 416
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{size}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if asked:
            start, end, status = asked[0], asked[1], 206
            if fault == "wrong-range":
                start = int(rule.get("start", 0 if asked[0] else size // 2))
        entry["status"], entry["start"] = status, start
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("ETag", etag)
        self.send_header("Last-Modified", last_modified)
        self.send_header("Accept-Ranges", "bytes")
        if status == 206:
            self.send_header("Content-Range", f"bytes {start}-{max(end - 1, start)}/{size}")
        self.send_header("Content-Length", str(end - start))
        self.end_headers()
        if head:
            return
        limit = end - start
        if fault == "reset-every":
            limit = min(limit, max(1, int(rule.get("bytes", size // 4))))
        with open(local, "rb") as f:
            f.seek(start)
            left = limit
            while left > 0:
                data = f.read(min(1 << 20, left))
                if not data:
                    break
                self._send(data, entry)
                left -= len(data)
        if limit < end - start:
            self.wfile.flush()
            self._drain()
            entry["complete"] = False
            self._reset()

    def _drain(self):
        """Waits (up to 10 s) until the kernel has delivered what was sent,
        so that a reset drops no byte the log counts as sent."""
        outq = bytearray(4)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not self.server.stopping.is_set():
            fcntl.ioctl(self.connection.fileno(), termios.TIOCOUTQ, outq)
            if int.from_bytes(outq, sys.byteorder) == 0:
                return
            time.sleep(0.01)

    def _reset(self):
        """Ends the connection with a TCP reset: no linger, and the socket
        closed at once (the reader made from it must go first)."""
        self.close_connection = True
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.rfile.close()
        self.connection.close()

    def _send(self, data, entry):
        view = memoryview(data)
        step = 1 << 20
        for start in range(0, len(view), step):
            self.wfile.write(view[start:start + step])
            entry["sent"] += len(view[start:start + step])

    def _sleep(self, seconds):
        # Sleeps in small steps so that a shutdown does not wait for a long stall.
        end = time.monotonic() + seconds
        while not self.server.stopping.is_set() and time.monotonic() < end:
            time.sleep(min(0.05, max(0.0, end - time.monotonic())))


# The faults that serve a file from disk (None: no fault).
FILE_FAULTS = (None, "ignore-range", "wrong-range", "etag-change", "reset-every")


class DevServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main(argv=None):
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder to serve")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=0, help="port (default 0: a free one)")
    parser.add_argument("--port-file", help="write the port number into this file once listening")
    parser.add_argument("--missing-status", type=int, default=404, choices=(200, 404),
                        help="status of the small HTML page for a missing file (default 404)")
    parser.add_argument("--rules", help="JSON rules file, re-read whenever it changes")
    parser.add_argument("--log", help="append the request log (JSON lines) to this file")
    parser.add_argument("--verbose", action="store_true", help="also print each request on stderr")
    args = parser.parse_args(argv)

    server = DevServer((args.host, args.port), Handler)
    server.root = os.path.abspath(args.root)
    server.missing_status = args.missing_status
    server.rules = RuleBook(args.rules)
    server.log = RequestLog(args.log)
    server.verbose = args.verbose
    server.stopping = threading.Event()
    server.etag_serial = 0

    port = server.server_address[1]
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(f"{port}\n")
        os.replace(args.port_file + ".tmp", args.port_file)
    print(f"PORT {port}", flush=True)
    try:
        server.serve_forever(poll_interval=0.1)
    except KeyboardInterrupt:
        pass
    finally:
        server.stopping.set()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
