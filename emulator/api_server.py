"""The device HTTP API of the emulated camera, on loopback with basic
authentication. Routes are read from a JSON file at every request, so a test
can change an answer while programs run:
  {"credentials": ["user", "password"], "routes": {"/path?query": "body"},
   "delays": {"/path?query": seconds}}
A delayed route answers after that many seconds, as a slow or hung API does
(each request has a thread of its own, so the others are not held up).
A body's lone surrogates (U+DC80 to U+DCFF) go out as the single bytes 0x80 to
0xFF, so that a test can serve text that is not valid UTF-8.
Started as: api_server.py ROUTES_FILE PORT_FILE
"""
import base64
import json
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def make_handler(routes_file):
    class Handler(BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def do_GET(self):
            with open(routes_file, encoding="utf-8") as f:
                config = json.load(f)
            user, password = config["credentials"]
            expected = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
            if self.headers.get("Authorization") != expected:
                self.answer(401, "401 Unauthorized\n", {"WWW-Authenticate": 'Basic realm="device"'})
                return
            time.sleep(config.get("delays", {}).get(self.path, 0))
            body = config["routes"].get(self.path)
            if body is None:
                self.answer(404, "404 Not Found\n")
                return
            self.answer(200, body)

        def answer(self, status, body, headers=None):
            data = body.encode("utf-8", "surrogateescape")
            self.send_response(status)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(data)))
            for key, value in (headers or {}).items():
                self.send_header(key, value)
            self.end_headers()
            self.wfile.write(data)

    return Handler


def main():
    routes_file, port_file = sys.argv[1], sys.argv[2]
    server = ThreadingHTTPServer(("127.0.0.1", 0), make_handler(routes_file))
    with open(port_file + ".tmp", "w", encoding="utf-8") as f:
        f.write(str(server.server_address[1]))
    import os
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
