#!/usr/bin/env python3
"""A small HTTP server for the Kov HTTP tests, on 127.0.0.1 only.

It listens on the port given as its argument, or on a free one, prints its port on the first
line of standard output, then serves until killed:
  /hello            200, "hello", two Set-Cookie headers
  /echo             200, the request as text: the verb, then each header "Name: value",
                    then an empty line and the body
  /status/N         status N with the body "status N"
  /redirect         302 to /hello
  /to-file          302 to a file: URL
  /slow             200 after a pause of the seconds given as ?s= (default 30)
  /script           a Kov script; each fetch counts (see /count)
  /count            how many times /script was fetched
  /silent           no answer at all for the seconds given as ?s= (default 60), then closed
  /stall            headers promising 10 bytes, 2 of them, then nothing for ?s= seconds
  /cut              a status line, then the connection closed: the headers never end
  /drip             10 bytes, one each ?every= seconds (default 0.5)
  /stalled-port     the port of a socket that takes no connection: its queue is full, so a
                    connection to it is never made (the other end hears nothing)
"""
import http.server
import socket
import sys
import time
import urllib.parse

fetches = {"script": 0}

# A listening socket with room for one waiting connection, taken by a connection of its own:
# the system drops every further attempt, which then waits for ever.
stalled = socket.socket()
stalled.bind(("127.0.0.1", 0))
stalled.listen(0)
stalled_filler = socket.create_connection(stalled.getsockname())


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        data = body.encode() if isinstance(body, str) else body
        self.send_response(status)
        for name, value in headers:
            if name == "X-Tight":  # no space after the colon, as some servers send
                self._headers_buffer.append(("%s:%s\r\n" % (name, value)).encode())
            else:
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def handle_any(self):
        url = urllib.parse.urlparse(self.path)
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        if url.path == "/hello":
            self.answer(200, "hello", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2"), ("X-Tight", "v")])
        elif url.path == "/echo":
            lines = [self.command] + ["%s: %s" % (k, v) for k, v in self.headers.items()]
            self.answer(200, "\n".join(lines).encode() + b"\n\n" + body)
        elif url.path.startswith("/status/"):
            n = int(url.path.split("/")[2])
            self.answer(n, "status %d" % n)
        elif url.path == "/redirect":
            self.answer(302, "moved", [("Location", "/hello")])
        elif url.path == "/to-file":
            self.answer(302, "moved", [("Location", "file:///etc/hostname")])
        elif url.path == "/slow":
            seconds = float(urllib.parse.parse_qs(url.query).get("s", ["30"])[0])
            time.sleep(seconds)
            self.answer(200, "late")
        elif url.path == "/script":
            fetches["script"] += 1
            self.answer(200, "Kov [] 1 + %d" % fetches["script"])
        elif url.path == "/count":
            self.answer(200, str(fetches["script"]))
        elif url.path in ("/silent", "/stall"):
            seconds = float(urllib.parse.parse_qs(url.query).get("s", ["60"])[0])
            if url.path == "/stall":
                self.send_response(200)
                self.send_header("Content-Length", "10")
                self.end_headers()
                self.wfile.write(b"ab")
                self.wfile.flush()
            time.sleep(seconds)
            self.close_connection = True
        elif url.path == "/cut":
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            self.wfile.flush()
            self.close_connection = True
        elif url.path == "/drip":
            every = float(urllib.parse.parse_qs(url.query).get("every", ["0.5"])[0])
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.flush()
            for c in b"0123456789":
                time.sleep(every)
                self.wfile.write(bytes([c]))
                self.wfile.flush()
        elif url.path == "/stalled-port":
            self.answer(200, str(stalled.getsockname()[1]))
        else:
            self.answer(404, "not found")

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = handle_any


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", int(sys.argv[1]) if len(sys.argv) > 1 else 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
