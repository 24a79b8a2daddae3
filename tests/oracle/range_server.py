#!/usr/bin/env python3
"""A loopback HTTP server of a folder, answering Range requests, for the tests and benchmarks.

Writes its port to PORT_FILE once it listens, and a line per request to LOG
("PATH STATUS BYTES_SENT"). --mode makes it misbehave: lie (a Content-Range that is not the one
asked), truncate (an answer cut short), loop (redirects to itself), flaky (500, then the right
answer), whole (the whole file whatever the Range), stall (headers, then nothing). --latency
adds a pause to each request.
"""
import argparse
import http.server
import os
import re
import threading
import time

parser = argparse.ArgumentParser()
parser.add_argument("--root", required=True)
parser.add_argument("--port-file", required=True)
parser.add_argument("--log", required=True)
parser.add_argument("--mode", default="normal")
parser.add_argument("--latency", type=float, default=0.0, help="milliseconds a request")
args = parser.parse_args()

log_lock = threading.Lock()
failed_once = set()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *_):
        pass

    def record(self, status, sent):
        with log_lock, open(args.log, "a") as log:
            log.write(f"{self.path} {status} {sent}\n")

    def answer(self, status, headers=(), body=b"", length=None):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        # Logged before the body goes: a client that has its answer finds it in the log.
        self.record(status, len(body))
        self.wfile.write(body)

    def do_HEAD(self):
        if args.latency:
            time.sleep(args.latency / 1000)
        path = self.local_path()
        if path is None:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return self.record(404, 0)
        self.send_response(200)
        self.send_header("Content-Length", str(os.path.getsize(path)))
        self.send_header("Accept-Ranges", "bytes")
        self.end_headers()
        self.record(200, 0)

    def local_path(self):
        path = os.path.realpath(os.path.join(args.root, self.path.lstrip("/")))
        if not path.startswith(os.path.realpath(args.root) + os.sep) or not os.path.isfile(path):
            return None
        return path

    def do_GET(self):
        if args.latency:
            time.sleep(args.latency / 1000)
        if args.mode == "loop":
            return self.answer(302, [("Location", self.path)])
        if args.mode == "flaky" and self.path not in failed_once:
            failed_once.add(self.path)
            return self.answer(500, body=b"busy")
        path = self.local_path()
        if path is None:
            return self.answer(404, body=b"no such key")
        size = os.path.getsize(path)
        etag = f'"{size:x}-{int(os.path.getmtime(path))}"'
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        if not match or args.mode == "whole":
            with open(path, "rb") as f:
                return self.answer(200, [("ETag", etag), ("Accept-Ranges", "bytes")], f.read())
        first = int(match.group(1))
        last = min(int(match.group(2) or size - 1), size - 1)
        if first >= size:
            return self.answer(416, [("Content-Range", f"bytes */{size}")])
        # Only the range is read: a benchmark's tiles are hundreds of megabytes.
        with open(path, "rb") as f:
            f.seek(first)
            body = f.read(last + 1 - first)
        shown = (first + 1, last + 1) if args.mode == "lie" else (first, last)
        headers = [("ETag", etag), ("Content-Range", f"bytes {shown[0]}-{shown[1]}/{size}")]
        if args.mode == "stall":
            # Headers, then silence with the connection held open.
            self.send_response(206)
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.flush()
            self.record(206, 0)
            time.sleep(3600)
            return
        if args.mode == "truncate":
            # Says the whole range, sends half, and closes the connection.
            self.answer(206, headers, body[: len(body) // 2], length=len(body))
            self.close_connection = True
            return
        self.answer(206, headers, body)


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a client that hangs up on a cut answer is what the test wants


server = Server(("127.0.0.1", 0), Handler)
with open(args.port_file + ".part", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(args.port_file + ".part", args.port_file)
server.serve_forever()
