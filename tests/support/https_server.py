"""A small HTTPS server for the certificate manager's tests.

    https_server.py <folder> <certificate.pem> <key.pem>

Prints "PORT <n>" once it listens on 127.0.0.1. Serves from the folder:
  /kv-cert/130717/manifest.json  manifest.json, with the ETag in manifest.etag (if present);
                                 304 when If-None-Match equals it
  /files/<name>                  the file <name>
A file "<served name>.status" forces that status with an empty body, "<served name>.delay"
delays the answer by that many seconds. Every request is appended to requests.log as
"<path> <If-None-Match or ->".
"""
import http.server
import os
import ssl
import sys
import time

folder, certificate, key = sys.argv[1:4]


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

    def answer(self, status, body=b"", etag=None):
        self.send_response(status)
        if etag:
            self.send_header("etag", etag)  # lower case on purpose: read without regard to case
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(certificate, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(f"PORT {server.server_address[1]}", flush=True)
server.serve_forever()
