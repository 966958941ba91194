#!/usr/bin/env python3
"""The simulated site the program downloads from, on loopback.

A patch server over plain HTTP and the web sign-in service over HTTPS, with
a test CA made by the openssl CLI. What they answer is chosen per test
through the control path /_control/scenario on the patch server, and every
request (server, path, query, User-Agent) is recorded and can be read back
from /_control/log.

    simulated_site.py --state DIR [--http-port 48080] [--https-port 48443]
                      [--untrusted-port 48444]

Scenarios (query `name`, with `size` and `package` where they apply):
  package       the package itself: the file `package`, or `size` bytes
  error         a short 404 error page
  folder        the files of the folder `dir` under their exact names (case
                included), as a web server serves a folder; a 404 page for
                any other name
  signin-redirect  as signin, but the patch server first redirects (302) to
                the sign-in service, which serves the sign-in page over HTTPS;
                with `via=untrusted` to the untrusted listener instead
  signin        sign-in page (RT, ST, banner); the login URL answers a
                return-URL page whose link carries a ticket back to the patch
                server (to the name `file`, or else to the one first asked
                for), which serves the package only for that ticket; with
                `interval`, at the pace of slow
  banner        a sign-in page with the banner only
  return-nolink the login URL answers a return-URL page without a usable link
  return-again  the return URL answers yet another return-URL page
  slow          the package, `piece` bytes (1024) every `interval` seconds, on a
                fixed schedule: a piece sent late is followed at once by those due
  cut           announces `size` bytes and closes after half of them
  hang          accepts and never answers
  stall         sends half the body, then nothing
  endless       a body that never ends (until the client goes)
  page          answers the HTML in `body`, or the file `bodyfile` (crafted pages)
  zeros         a short page with zero bytes in a header and in the body
  redirect-self    a 302 to the very URL asked for, for ever
  redirect-chain   a 302 to "?hop=N+1", relative, for ever, or the package
                after `hops` redirects
  chunked       the package in chunks of 4096 bytes, with no length
  http10        the package as HTTP/1.0, with no length: it ends when the
                connection closes
  dribble       announces the package, then sends one byte every `interval`
                seconds
With `gate` (a ui_probe log file) the scenario's first answer waits until
that log holds a sample of the status window (at most GATE_SECONDS), or,
with `gate_events`, until it holds each of those events: a comma-separated
list whose items may name alternatives joined by "|" ("window,exit|second-exit").
An extra listener on --ftp-port records any connection as server "ftp".
The untrusted listener (--untrusted-port) is the sign-in service with a
certificate from a second CA that no Wine prefix is told to trust.
A port already taken ends the site at once, before it says it is serving.
"""
import argparse
import json
import os
import secrets
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BANNER = "Tarrowin Keyloom"
# Well under the program's 30 s limit on a silent server.
GATE_SECONDS = 20
PATCH_PREFIX = "/patches/KB835732/"


class Site:
    def __init__(self, state, http_port, https_port, untrusted_port):
        self.state = state
        self.http_port = http_port
        self.https_port = https_port
        self.untrusted_port = untrusted_port
        self.lock = threading.Lock()
        self.scenario = {"name": "package", "size": "200000"}
        self.gate_open = threading.Event()
        self.gate_open.set()
        self.tickets = set()
        # The path each sign-in began from, by its RT value: the return link
        # leads back there.
        self.asked = {}
        self.requests = []

    def record(self, server, handler):
        url = urllib.parse.urlsplit(handler.path)
        entry = {"server": server, "path": url.path, "query": url.query,
                 "agent": handler.headers.get("User-Agent", "")}
        with self.lock:
            self.requests.append(entry)
        with open(os.path.join(self.state, "requests.log"), "a", encoding="utf-8") as log:
            log.write(json.dumps(entry) + "\n")

    def set_scenario(self, scenario):
        with self.lock:
            self.scenario = scenario
            self.requests = []
            self.gate_open = threading.Event()
            if not scenario.get("gate"):
                self.gate_open.set()

    def wait_for_gate(self):
        """The program opens its status window before its first request and
        closes it after its last, so holding the first answer until the probe
        has logged the window makes sure it is seen, however short the
        download; holding it until a copy of the program has ended makes
        sure that the one downloading outlives the other's start. The log is
        being written: only whole lines count."""
        with self.lock:
            gate, path = self.gate_open, self.scenario.get("gate")
            awaited = [set(item.split("|"))
                       for item in self.scenario.get("gate_events", "window").split(",")]
        deadline = time.monotonic() + GATE_SECONDS
        while not gate.is_set() and time.monotonic() < deadline:
            logged = {event.get("event") for event in logged_events(path)}
            if all(logged & item for item in awaited):
                break
            time.sleep(0.02)
        gate.set()

    def package_bytes(self):
        path = self.scenario.get("package")
        if path:
            with open(path, "rb") as f:
                return f.read()
        size = int(self.scenario.get("size", "200000"))
        pattern = b"MZ\x90\x00" + bytes(range(256)) * 4
        return (pattern * (size // len(pattern) + 1))[:size]

    def signin_page(self, rt, st):
        return ("<HTML><HEAD><TITLE>Sign in</TITLE></HEAD><BODY>\n"
                f"<H1>{BANNER}</H1>\n<FORM METHOD=\"POST\" ACTION=\"/login/\">\n"
                f"<INPUT type=\"hidden\" name=\"RT\" value=\"{rt}\">\n"
                f"<INPUT type=\"hidden\" name=\"ST\" value=\"{st}\">\n"
                "</FORM></BODY></HTML>\n")

    def return_page(self, link):
        return (f"<HTML><BODY>{BANNER}\n<!-- The return_url -->\n"
                f"<P><A HREF=\"{link};\">Continue</A>\n<!-- END return_url -->\n"
                "</BODY></HTML>\n")


def logged_events(path):
    """The events of the whole lines of a JSON-lines log written meanwhile."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return []
    events = []
    for line in data.split(b"\n")[:-1]:
        try:
            events.append(json.loads(line))
        except ValueError:
            pass
    return events


def make_certificates(state, prefix="", ca_name="Patcher Test CA"):
    """A test CA and a server certificate for localhost and 127.0.0.1, under
    file names that start with `prefix`."""
    name = lambda base: os.path.join(state, prefix + base)
    ca_key, ca_crt = name("ca.key"), name("ca.crt")
    key, crt = name("server.key"), name("server.crt")
    if os.path.exists(crt):
        return crt, key
    run = lambda *args: subprocess.run(["openssl", *args], check=True, capture_output=True)
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj",
        "/CN=" + ca_name, "-keyout", ca_key, "-out", ca_crt,
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    csr = name("server.csr")
    run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", key, "-out", csr)
    ext = name("server.ext")
    with open(ext, "w", encoding="ascii") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", csr, "-CA", ca_crt, "-CAkey", ca_key, "-CAcreateserial",
        "-days", "3650", "-out", crt, "-extfile", ext)
    run("x509", "-in", ca_crt, "-outform", "DER", "-out", name("ca.der"))
    return crt, key


def handler_for(site, server_name):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def send_body(self, body, status=200, ctype="text/html"):
            if isinstance(body, str):
                body = body.encode("latin-1")
            self.send_response(status)
            self.send_header("Content-Type", ctype)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)

        def redirect(self, location):
            self.send_response(302)
            self.send_header("Location", location)
            self.send_header("Content-Length", "0")
            self.send_header("Connection", "close")
            self.end_headers()

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
            if url.path.startswith("/_control/"):
                return self.control(url.path, query)
            site.record(server_name, self)
            site.wait_for_gate()
            if server_name == "signin":
                return self.signin(url)
            return self.patch(url)

        def control(self, path, query):
            if path == "/_control/scenario":
                site.set_scenario({k: v[-1] for k, v in query.items()})
                return self.send_body("ok\n", ctype="text/plain")
            if path == "/_control/log":
                with site.lock:
                    body = json.dumps(site.requests)
                return self.send_body(body, ctype="application/json")
            return self.send_body("unknown control\n", 404, "text/plain")

        def patch(self, url):
            s = site.scenario
            name = s.get("name", "package")
            if not url.path.startswith(PATCH_PREFIX):
                return self.send_body("<HTML><BODY>Not Found</BODY></HTML>\n", 404)
            if name == "error":
                return self.send_body("<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD>"
                                      "<BODY>Not Found</BODY></HTML>\n", 404)
            if name == "page":
                if s.get("bodyfile"):
                    with open(s["bodyfile"], "rb") as f:
                        return self.send_body(f.read())
                return self.send_body(s.get("body", ""))
            if name == "zeros":
                # Zero bytes in a header and all through a short page.
                body = b"<HTML>\0<BODY>\0" + BANNER.encode() + b"\0</BODY></HTML>\n" * 50
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("X-Padding", "a\0b")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)
                return None
            if name == "folder":
                return self.folder(url, s.get("dir", ""))
            if name == "banner":
                return self.send_body(f"<HTML><BODY><H1>{BANNER}</H1>Please sign in.</BODY></HTML>\n")
            if name in ("signin", "signin-redirect", "return-nolink", "return-again"):
                ticket = url.query[len("ticket="):] if url.query.startswith("ticket=") else ""
                if name == "return-again" and ticket:
                    return self.send_body(site.return_page(f"http://127.0.0.1:{site.http_port}"
                                                          f"{url.path}?ticket=again"))
                with site.lock:
                    known = ticket in site.tickets
                if not known and name == "signin-redirect":
                    port = site.untrusted_port if s.get("via") == "untrusted" else site.https_port
                    self.send_response(302)
                    self.send_header("Location", f"https://localhost:{port}/signin/")
                    self.send_header("Content-Length", "0")
                    self.send_header("Connection", "close")
                    self.end_headers()
                    return None
                if not known:
                    rt = "rt-" + secrets.token_hex(6)
                    with site.lock:
                        site.asked[rt] = url.path
                    return self.send_body(site.signin_page(rt, "st-" + secrets.token_hex(6)))
                if "interval" in s:
                    return self.send_paced(site.package_bytes(), s)
            if name == "redirect-self":
                return self.redirect(f"http://127.0.0.1:{site.http_port}{self.path}")
            if name == "redirect-chain":
                hop = int(url.query[len("hop="):]) if url.query.startswith("hop=") else 0
                if s.get("hops") is None or hop < int(s["hops"]):
                    return self.redirect(f"?hop={hop + 1}")
            if name == "hang":
                time.sleep(3600)
                return None
            body = site.package_bytes()
            if name in ("cut", "stall", "endless"):
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                if name != "endless":
                    self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                if name == "endless":
                    try:
                        while True:
                            self.wfile.write(body[:65536] or b"x" * 65536)
                    except OSError:
                        return None
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                if name == "stall":
                    time.sleep(3600)
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
                return None
            if name == "chunked":
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Transfer-Encoding", "chunked")
                self.send_header("Connection", "close")
                self.end_headers()
                for i in range(0, len(body), 4096):
                    piece = body[i:i + 4096]
                    self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
                self.wfile.write(b"0\r\n\r\n")
                self.wfile.flush()
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
                return None
            if name == "http10":
                # Written raw: the server class answers as HTTP/1.1.
                self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n"
                                 + body)
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
                return None
            if name == "dribble":
                interval = float(s.get("interval", "5"))
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                try:
                    for i in range(len(body)):
                        self.wfile.write(body[i:i + 1])
                        self.wfile.flush()
                        time.sleep(interval)
                except OSError:
                    pass
                return None
            if name == "slow":
                return self.send_paced(body, s)
            return self.send_body(body, ctype="application/octet-stream")

        def send_paced(self, body, s):
            """`piece` bytes (1024) every `interval` seconds (0.05)."""
            interval = float(s.get("interval", "0.05"))
            piece = int(s.get("piece", "1024"))
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            # The pace holds on a loaded machine: each piece is due at a
            # fixed time from the first, however late the last one went.
            start = time.monotonic()
            for n, i in enumerate(range(0, len(body), piece)):
                time.sleep(max(0.0, start + n * interval - time.monotonic()))
                self.wfile.write(body[i:i + piece])
                self.wfile.flush()

        def folder(self, url, directory):
            """A name is served only when the folder holds it in exactly
            that case: listing the folder, not asking the file system, which
            may ignore case."""
            name = url.path[len(PATCH_PREFIX):]
            try:
                present = name in os.listdir(directory) and "/" not in name
            except OSError:
                present = False
            if not present:
                return self.send_body("<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD>"
                                      "<BODY>Not Found</BODY></HTML>\n", 404)
            with open(os.path.join(directory, name), "rb") as f:
                return self.send_body(f.read(), ctype="application/octet-stream")

        def signin(self, url):
            if url.path == "/signin/":
                return self.send_body(site.signin_page("rt-" + secrets.token_hex(6),
                                                       "st-" + secrets.token_hex(6)))
            if url.path != "/login/" or not url.query.startswith("RT="):
                return self.send_body(f"<HTML><BODY>{BANNER}: unknown page</BODY></HTML>\n", 404)
            rt, _, st = url.query[3:].partition(";ST=")
            if not rt.startswith("rt-") or not st.startswith("st-"):
                return self.send_body(f"<HTML><BODY>{BANNER}: sign-in refused</BODY></HTML>\n", 403)
            name = site.scenario.get("name")
            if name == "return-nolink":
                return self.send_body(f"<HTML><BODY>{BANNER}\n<!-- The return_url -->\n"
                                      "<P>No link here\n<!-- END return_url -->\n</BODY></HTML>\n")
            ticket = secrets.token_hex(8)
            with site.lock:
                site.tickets.add(ticket)
                asked = site.asked.get(rt)
            if "file" in site.scenario or not asked:
                asked = PATCH_PREFIX + site.scenario.get("file", "WindowsXP-KB835732-x86-ENU.EXE")
            link = f"http://127.0.0.1:{site.http_port}{asked}?ticket={ticket}"
            return self.send_body(site.return_page(link))

    return Handler


def other_scheme_listener(site, listener):
    """Stands where an ftp: link of a hostile page points: any connection is
    recorded (as server "ftp") and closed."""
    while True:
        connection, _ = listener.accept()
        entry = {"server": "ftp", "path": "", "query": "", "agent": ""}
        with site.lock:
            site.requests.append(entry)
        connection.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True, help="folder for certificates and the request log")
    parser.add_argument("--http-port", type=int, default=48080)
    parser.add_argument("--https-port", type=int, default=48443)
    parser.add_argument("--untrusted-port", type=int, default=48444,
                        help="the sign-in service with a certificate no prefix trusts")
    parser.add_argument("--ftp-port", type=int, default=48021,
                        help="records every connection: a link that must not be followed")
    args = parser.parse_args()
    os.makedirs(args.state, exist_ok=True)
    crt, key = make_certificates(args.state)
    untrusted_crt, untrusted_key = make_certificates(args.state, "untrusted-",
                                                     "Patcher Untrusted Test CA")
    site = Site(args.state, args.http_port, args.https_port, args.untrusted_port)

    ThreadingHTTPServer.daemon_threads = True
    # Every port is bound before the site says it serves: a port held by
    # anything else (an old site, another program) must stop the tests here,
    # not let them talk to that other server.
    try:
        http = ThreadingHTTPServer(("127.0.0.1", args.http_port), handler_for(site, "patch"))
        https = ThreadingHTTPServer(("127.0.0.1", args.https_port), handler_for(site, "signin"))
        untrusted = ThreadingHTTPServer(("127.0.0.1", args.untrusted_port),
                                        handler_for(site, "signin"))
        ftp = socket.create_server(("127.0.0.1", args.ftp_port))
    except OSError as e:
        print(f"simulated site cannot start: a port of 127.0.0.1 ({args.http_port}, "
              f"{args.https_port}, {args.untrusted_port}, {args.ftp_port}) is taken: {e}",
              file=sys.stderr, flush=True)
        return 2
    for server, (certificate, key) in ((https, (crt, key)),
                                       (untrusted, (untrusted_crt, untrusted_key))):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    for server in (http, https, untrusted):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    threading.Thread(target=other_scheme_listener, args=(site, ftp), daemon=True).start()
    print(f"simulated site: http://127.0.0.1:{args.http_port} https://localhost:{args.https_port}",
          flush=True)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
