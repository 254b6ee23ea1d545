"""A small HTTPS (or, without a certificate, HTTP) server for the tests of the service's downloads.

    https_server.py <folder> [<certificate.pem> <key.pem>]

Prints "PORT <n>" once it listens on 127.0.0.1. Serves from the folder:
  /kv-cert/130717/manifest.json  manifest.json, with the ETag in manifest.etag (if present);
                                 304 when If-None-Match equals it
  /files/<name>                  the file <name>
A file "<served name>.status" forces that status with an empty body, "<served name>.delay"
delays the answer by that many seconds. Misbehaviour, by a file next to the served one:
"<name>.reset" drops the connection unanswered, "<name>.stall" sends part of the body and then
nothing, "<name>.trickle" sends the body in ten pieces over that many seconds, "<name>.location" redirects there, "<name>.huge" announces and streams that many bytes (an MP3 header, then zeros) for as
long as the client reads. Every request is appended to requests.log as
"<path> <If-None-Match or ->".
"""
import http.server
import os
import socket
import ssl
import struct
import sys
import time

folder = sys.argv[1]


def read(name):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        return None
    with open(path, "rb") as file:
        return file.read()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        tag = self.headers.get("If-None-Match")
        with open(os.path.join(folder, "requests.log"), "a") as log:
            log.write(f"{self.path} {tag or '-'}\n")
        if self.path == "/kv-cert/130717/manifest.json":
            name = "manifest.json"
        elif self.path.startswith("/files/"):
            name = os.path.basename(self.path)
        else:
            return self.answer(404)
        delay = read(name + ".delay")
        if delay:
            time.sleep(float(delay))
        if read(name + ".reset") is not None:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
            return
        if read(name + ".stall") is not None:
            self.send_response(200)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            self.wfile.write(b"ID3" + bytes(100))
            self.wfile.flush()
            time.sleep(3600)
            return
        trickle = read(name + ".trickle")
        if trickle:
            return self.trickle(read(name), float(trickle))
        location = read(name + ".location")
        if location:
            self.send_response(302)
            self.send_header("Location", location.decode().strip())
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        huge = read(name + ".huge")
        if huge:
            return self.stream(int(huge))
        status = read(name + ".status")
        if status:
            return self.answer(int(status))
        etag = read(name.replace(".json", ".etag")) if name == "manifest.json" else None
        if etag and tag == etag.decode().strip():
            return self.answer(304)
        body = read(name)
        if body is None:
            return self.answer(404)
        self.answer(200, body, etag.decode().strip() if etag else None)

    def stream(self, size):
        self.send_response(200)
        self.send_header("Content-Length", str(size))
        self.end_headers()
        chunk = bytes(1 << 20)
        try:
            self.wfile.write(b"ID3" + bytes((1 << 20) - 3))
            for _ in range(size // len(chunk) - 1):
                self.wfile.write(chunk)
        except OSError:
            pass

    def trickle(self, body, seconds):
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        piece = len(body) // 10 + 1
        for start in range(0, len(body), piece):
            time.sleep(seconds / 10)
            self.wfile.write(body[start:start + piece])
            self.wfile.flush()

    def answer(self, status, body=b"", etag=None):
        self.send_response(status)
        if etag:
            self.send_header("etag", etag)  # lower case on purpose: read without regard to case
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
if len(sys.argv) > 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(f"PORT {server.server_address[1]}", flush=True)
server.serve_forever()
