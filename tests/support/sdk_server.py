"""Serves a folder over http on 127.0.0.1 while one command runs, for the SDK
fetch's test: python3 sdk_server.py FOLDER COMMAND... runs COMMAND with every
"{port}" in it replaced by the server's port and exits with its status.

Like a GitHub release asset's API URL, it answers a file's bytes only to
"Accept: application/octet-stream" and JSON about the file otherwise (and for
a path that is no file)."""
import http.server
import json
import os
import subprocess
import sys
import threading

FOLDER = sys.argv[1]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
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
threading.Thread(target=server.serve_forever, daemon=True).start()
port = str(server.server_address[1])
sys.exit(subprocess.run([part.replace("{port}", port) for part in sys.argv[2:]]).returncode)
