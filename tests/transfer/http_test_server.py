#!/usr/bin/env python3
"""HTTP/1.1 server on 127.0.0.1 for the transfer tests and benchmarks.

Prints its port on the first line of standard output. Every request that is answered is
recorded in the store folder as <n>.json (method, path, headers) and <n>.body (the raw body).

  /status/<code>      answers <code> with the body "error body <code>"
  /drop/<key>/<n>     closes the first <n> connections for <key> without an answer, then 200
  /files/<name>       answers with the file <name> of the files folder
  /echo               answers with the request body
  /hello              answers with a UTF-8 text
  /gzip               answers gzip-compressed when the client accepts it
  /slow/<ms>          answers after <ms> milliseconds
  anything else       answers "ok"

The server ends by itself when the process that started it is gone.
"""
import argparse
import gzip
import http.server
import json
import os
import socket
import ssl
import sys
import threading
import time

lock = threading.Lock()
sequence = [0]
drops = {}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def do_GET(self):
        self.handle_any()

    def do_POST(self):
        self.handle_any()

    def do_PUT(self):
        self.handle_any()

    def read_body(self, sink):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return
                sink.write(self.rfile.read(size))
                self.rfile.readline()
        remaining = int(self.headers.get("Content-Length", "0"))
        while remaining > 0:
            chunk = self.rfile.read(min(remaining, 1 << 20))
            if not chunk:
                break
            sink.write(chunk)
            remaining -= len(chunk)

    def answer(self, code, body, headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def handle_any(self):
        parts = self.path.split("?")[0].strip("/").split("/")
        if parts[0] == "drop" and len(parts) >= 3:
            with lock:
                seen = drops.get(parts[1], 0)
                drops[parts[1]] = seen + 1
            if seen < int(parts[2]):
                self.close_connection = True
                try:
                    self.connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                return
        with lock:
            sequence[0] += 1
            number = sequence[0]
        base = os.path.join(self.server.store, str(number))
        with open(base + ".body.part", "wb") as sink:
            self.read_body(sink)
        os.rename(base + ".body.part", base + ".body")
        meta = {"method": self.command, "path": self.path,
                "headers": [[k, v] for k, v in self.headers.items()]}
        with open(base + ".json.part", "w") as out:
            json.dump(meta, out)
        os.rename(base + ".json.part", base + ".json")

        if parts[0] == "status" and len(parts) >= 2:
            self.answer(int(parts[1]), ("error body " + parts[1]).encode())
        elif parts[0] == "files" and len(parts) >= 2:
            path = os.path.join(self.server.files, *parts[1:])
            if not os.path.isfile(path):
                self.answer(404, b"no such file")
                return
            size = os.path.getsize(path)
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            with open(path, "rb") as f:
                if isinstance(self.connection, ssl.SSLSocket):
                    while True:
                        chunk = f.read(1 << 20)
                        if not chunk:
                            break
                        self.wfile.write(chunk)
                else:
                    self.connection.sendfile(f)
        elif parts[0] == "echo":
            with open(base + ".body", "rb") as f:
                self.answer(200, f.read())
        elif parts[0] == "hello":
            self.answer(200, "你好，考生".encode("utf-8"),
                        [("Content-Type", "text/plain; charset=utf-8")])
        elif parts[0] == "gzip":
            if "gzip" in self.headers.get("Accept-Encoding", ""):
                self.answer(200, gzip.compress(b"compressed body"), [("Content-Encoding", "gzip")])
            else:
                self.answer(200, b"compressed body")
        elif parts[0] == "slow" and len(parts) >= 2:
            time.sleep(int(parts[1]) / 1000.0)
            self.answer(200, b"slow")
        else:
            self.answer(200, b"ok")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def exit_with_parent():
    parent = os.getppid()
    while True:
        time.sleep(0.5)
        if os.getppid() != parent:
            os._exit(0)


def main():
    threading.Thread(target=exit_with_parent, daemon=True).start()
    parser = argparse.ArgumentParser()
    parser.add_argument("--store", required=True)
    parser.add_argument("--files", default="")
    parser.add_argument("--cert", default="")
    parser.add_argument("--key", default="")
    parser.add_argument("--client-ca", default="")
    args = parser.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.store = args.store
    server.files = args.files or args.store
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        if args.client_ca:
            context.verify_mode = ssl.CERT_REQUIRED
            context.load_verify_locations(cafile=args.client_ca)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    sys.stdout.write("%d\n" % server.server_address[1])
    sys.stdout.flush()
    server.serve_forever()


if __name__ == "__main__":
    main()
