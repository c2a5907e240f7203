#!/usr/bin/env python3
# A local HTTPS server for the updater's tests: feed_server.py ROOT CERT KEY. Prints its port, serves ROOT;
# "<name>.status" beside a file overrides the status, "<name>.redirect" answers 302, "<name>.nolength" sends the
# body without a length, "<name>.endless" sends bytes without a length until the client hangs up, "<name>.dribble"
# sends the file one byte every 0.2 s. Exits with its parent.
import http.server
import os
import ssl
import sys
import threading
import time

ROOT, CERT, KEY = sys.argv[1], sys.argv[2], sys.argv[3]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        path = os.path.join(ROOT, self.path.split("?")[0].lstrip("/"))
        if os.path.exists(path + ".redirect"):
            with open(path + ".redirect") as f:
                location = f.read().strip()
            self.send_response(302)
            self.send_header("Location", location)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if os.path.exists(path + ".endless") or os.path.exists(path + ".nolength"):
            self.close_connection = True
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            try:
                if os.path.exists(path + ".nolength"):
                    with open(path, "rb") as f:
                        self.wfile.write(f.read())
                    return
                block = b" " * (1 << 16)
                for _ in range(1 << 12):  # 256 MiB at most
                    self.wfile.write(block)
            except OSError:
                pass
            return
        if os.path.exists(path + ".dribble"):
            with open(path, "rb") as f:
                body = f.read()
            self.close_connection = True
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            try:
                for i in range(len(body)):
                    self.wfile.write(body[i:i + 1])
                    self.wfile.flush()
                    time.sleep(0.2)
            except OSError:
                pass
            return
        status = 200
        if os.path.exists(path + ".status"):
            with open(path + ".status") as f:
                status = int(f.read().strip())
        body = b""
        if os.path.isfile(path):
            with open(path, "rb") as f:
                body = f.read()
        elif status == 200:
            status = 404
        self.send_response(status)
        if status != 304:
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if status != 304:
            self.wfile.write(body)

    def log_message(self, *args):
        pass


def watch_parent(parent):
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.handle_error = lambda request, address: None  # clients that hang up early are expected
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(CERT, KEY)
server.socket = context.wrap_socket(server.socket, server_side=True)
threading.Thread(target=watch_parent, args=(os.getppid(),), daemon=True).start()
print(server.server_address[1], flush=True)
server.serve_forever()
