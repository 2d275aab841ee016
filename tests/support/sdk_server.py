"""Serves a folder on 127.0.0.1 while one command runs, for the SDK fetch's
test: python3 sdk_server.py [--https CERTIFICATE KEY TOKEN] FOLDER COMMAND...
runs COMMAND with every "{port}" in it replaced by the server's port and exits
with its status.

Like a GitHub release asset's API URL, it answers a file's bytes only to
"Accept: application/octet-stream" and JSON about the file otherwise (and for
a path that is no file). Over http it asks for no credentials. With --https
it serves TLS with CERTIFICATE and KEY (PEM files) and, like a private
asset's URL, answers 401 to every request that does not carry exactly one
"Authorization: Bearer TOKEN"."""
import http.server
import json
import os
import ssl
import subprocess
import sys
import threading

arguments = sys.argv[1:]
TLS = None
if arguments[0] == "--https":
    TLS, arguments = arguments[1:4], arguments[4:]
FOLDER, COMMAND = arguments[0], arguments[1:]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        if TLS and self.headers.get_all("Authorization") != ["Bearer " + TLS[2]]:
            body = json.dumps({"message": "Bad credentials"}).encode()
            self.send_response(401)
            self.send_header("WWW-Authenticate", "Bearer")
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        path = os.path.join(FOLDER, self.path.lstrip("/"))
        if os.path.isfile(path) and self.headers.get("Accept") == "application/octet-stream":
            with open(path, "rb") as file:
                body, kind = file.read(), "application/octet-stream"
        else:
            body, kind = json.dumps({"name": os.path.basename(self.path)}).encode(), "application/json"
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
if TLS:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(TLS[0], TLS[1])
    server.socket = context.wrap_socket(server.socket, server_side=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
port = str(server.server_address[1])
sys.exit(subprocess.run([part.replace("{port}", port) for part in COMMAND]).returncode)
