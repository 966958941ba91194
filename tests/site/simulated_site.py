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
The sign-in service's TLS is the scenario's `tls`: by default TLS 1.0 and
later at OpenSSL's weakest level (as a site for the old PCs must, though
OpenSSL has no 3DES or RC4 left); "modern", TLS 1.2 and later only; "sni",
the right certificate only for a hello that names localhost (another name's
for one that names none); "3des", the GnuTLS front (lighttpd, TLS 1.0 with
3DES, as Windows XP needs) in front of the sign-in service's plain port;
"jsse", the sign-in front (scripts/signin-front: Jetty on Java's TLS, SSL 3.0
and TLS 1.0 with RC4 and 3DES, which takes every old PC's hello) there.
A port already taken ends the site at once, before it says it is serving.
"""
import argparse
import ctypes
import json
import os
import secrets
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
import warnings
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from real_servers import wait_for_port

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
    """A test CA and server certificates under file names that start with
    `prefix`: one for localhost and 127.0.0.1, and one for another name (the
    certificate a server shows a hello that names no host). Signed with
    SHA-1, which every Windows of the package table can check (Windows 2000
    and older read no SHA-256). Certificates of an older site, signed
    otherwise, are made anew."""
    name = lambda base: os.path.join(state, prefix + base)
    ca_key, ca_crt = name("ca.key"), name("ca.crt")
    key, crt = name("server.key"), name("server.crt")
    run = lambda *args: subprocess.run(["openssl", *args], check=True, capture_output=True,
                                       text=True)
    if os.path.exists(name("other.crt")) and "sha1WithRSA" in run("x509", "-in", crt, "-noout",
                                                                  "-text").stdout:
        return crt, key
    run("req", "-x509", "-sha1", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj",
        "/CN=" + ca_name, "-keyout", ca_key, "-out", ca_crt,
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    for leaf, names in (("server", "DNS:localhost,IP:127.0.0.1"), ("other", "DNS:other.invalid")):
        csr, ext = name(leaf + ".csr"), name(leaf + ".ext")
        run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + names.split(",")[0][4:],
            "-keyout", name(leaf + ".key"), "-out", csr)
        with open(ext, "w", encoding="ascii") as f:
            f.write(f"subjectAltName={names}\nextendedKeyUsage=serverAuth\n")
        run("x509", "-req", "-sha1", "-in", csr, "-CA", ca_crt, "-CAkey", ca_key,
            "-CAcreateserial", "-days", "3650", "-out", name(leaf + ".crt"), "-extfile", ext)
    run("x509", "-in", ca_crt, "-outform", "DER", "-out", name("ca.der"))
    return crt, key


def tls_contexts(state, prefix=""):
    """The sign-in service's TLS, by the scenario's `tls`: a site for the
    old PCs (TLS 1.0 and later, OpenSSL's weakest level, which still has no
    3DES or RC4), one that speaks TLS 1.2 and later only, and one that shows
    its right certificate only to a hello naming the host."""
    name = lambda base: os.path.join(state, prefix + base)

    def context(leaf, minimum):
        c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        with warnings.catch_warnings():  # TLS 1.0 is deprecated: that is the point
            warnings.simplefilter("ignore", DeprecationWarning)
            c.minimum_version = minimum
        c.set_ciphers("DEFAULT:@SECLEVEL=0")
        c.load_cert_chain(name(leaf + ".crt"), name(leaf + ".key"))
        return c

    pcs = context("server", ssl.TLSVersion.TLSv1)
    sni = context("other", ssl.TLSVersion.TLSv1)

    def by_name(connection, server_name, _):
        if server_name == "localhost":
            connection.context = pcs
    sni.sni_callback = by_name
    return {"": pcs, "modern": context("server", ssl.TLSVersion.TLSv1_2), "sni": sni}


def start_gnutls_front(state, port, untrusted_port, backend_port):
    """lighttpd with GnuTLS in front of the sign-in service's plain port: TLS
    1.0 with 3DES, as a site that still serves Windows XP must offer it and
    current OpenSSL cannot; on `untrusted_port` with the untrusted CA's
    certificate. Ends with the site (the kernel stops it when the site's main
    thread ends). None where lighttpd or its GnuTLS module is missing."""
    module = "/usr/lib/lighttpd/mod_gnutls.so"
    if not os.path.exists(module) or not shutil.which("lighttpd"):
        return None
    pems = []
    for prefix in ("", "untrusted-"):
        pems.append(os.path.join(state, prefix + "front.pem"))
        with open(pems[-1], "w", encoding="ascii") as f:
            for part in ("server.crt", "server.key"):
                with open(os.path.join(state, prefix + part), encoding="ascii") as g:
                    f.write(g.read())
    config = os.path.join(state, "front.conf")
    with open(config, "w", encoding="ascii") as f:
        f.write(f"""server.document-root = "{state}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{state}/front.log"
# Each answer closes its connection, as the site's own do: a connection
# kept alive makes WinINet start a thread to close it later, which under
# qemu-i386 emulation spins or ends Wine's process.
server.max-keep-alive-requests = 0
server.modules += ("mod_gnutls", "mod_proxy")
ssl.engine = "enable"
ssl.pemfile = "{pems[0]}"
ssl.openssl.ssl-conf-cmd = ("MinProtocol" => "TLSv1.0", "CipherString" => "3DES")
$SERVER["socket"] == "127.0.0.1:{untrusted_port}" {{
    ssl.engine = "enable"
    ssl.pemfile = "{pems[1]}"
}}
proxy.server = ("" => (("host" => "127.0.0.1", "port" => {backend_port})))
""")
    libc = ctypes.CDLL(None)
    return subprocess.Popen(["lighttpd", "-D", "-f", config], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL,
                            preexec_fn=lambda: libc.prctl(1, signal.SIGTERM))  # PR_SET_PDEATHSIG


def start_signin_front(state, port, backend_port, prefix=""):
    """The administrators' sign-in front (scripts/signin-front: Jetty) in
    front of the sign-in service's plain port, with the site's certificate
    and key as PEM; its connection log in signin-front.log. None where Jetty
    is missing. Ends with the site, as the GnuTLS front does."""
    if not os.path.exists("/usr/share/java/jetty9-proxy.jar"):
        return None
    name = lambda base: os.path.join(state, prefix + base)
    front = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                         "signin-front")
    libc = ctypes.CDLL(None)
    with open(name("signin-front.log"), "wb") as log:
        return subprocess.Popen([front, "--listen", f"127.0.0.1:{port}", "--backend",
                                 f"127.0.0.1:{backend_port}", "--cert", name("server.crt"),
                                 "--key", name("server.key")], stdout=log,
                                stderr=subprocess.STDOUT,
                                # Each connection closed after its answer, as
                                # the other fronts here do (see signin-front).
                                env=dict(os.environ, SIGNIN_FRONT_KEEP_ALIVE="no"),
                                preexec_fn=lambda: libc.prctl(1, signal.SIGTERM))  # PR_SET_PDEATHSIG


class SecureServer(ThreadingHTTPServer):
    """The sign-in service over HTTPS, its TLS chosen per connection by the
    scenario's `tls`; with "3des" the connection goes on, untouched, to the
    GnuTLS front."""

    def __init__(self, address, handler, site, contexts, fronts):
        super().__init__(address, handler)
        self.site, self.contexts, self.fronts = site, contexts, fronts

    def process_request_thread(self, request, client_address):
        with self.site.lock:
            tls = self.site.scenario.get("tls", "")
        if tls in self.fronts:
            return relay_to(request, self.fronts[tls])
        try:
            request.settimeout(GATE_SECONDS + 30)
            secure = self.contexts[tls].wrap_socket(request, server_side=True)
            secure.settimeout(None)
        except (OSError, KeyError):
            request.close()  # a handshake the scenario's TLS refuses
            return None
        return super().process_request_thread(secure, client_address)


def relay_to(client, port):
    try:
        upstream = socket.create_connection(("127.0.0.1", port), timeout=10)
        upstream.settimeout(None)
    except OSError:
        client.close()
        return

    def pump(source, sink):
        try:
            while data := source.recv(65536):
                sink.sendall(data)
        except OSError:
            pass
        for end in (source, sink):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    other = threading.Thread(target=pump, args=(upstream, client), daemon=True)
    other.start()
    pump(client, upstream)
    other.join()
    client.close()
    upstream.close()


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


def wait_for_leftovers(ports, seconds=70):
    """The site's ports lie where the kernel picks clients' ports from, so a
    connection a client closed in the last minute (TIME_WAIT) may still hold
    one, though no server does: such a port is waited for. A port a server
    listens on is left to the binds, which then fail at once."""
    deadline = time.monotonic() + seconds
    for port in ports:
        while time.monotonic() < deadline:
            with socket.socket() as s:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                try:
                    s.bind(("127.0.0.1", port))
                    break
                except OSError:
                    pass
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.5)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True, help="folder for certificates and the request log")
    parser.add_argument("--http-port", type=int, default=48080)
    parser.add_argument("--https-port", type=int, default=48443)
    parser.add_argument("--untrusted-port", type=int, default=48444,
                        help="the sign-in service with a certificate no prefix trusts")
    parser.add_argument("--ftp-port", type=int, default=48021,
                        help="records every connection: a link that must not be followed")
    parser.add_argument("--signin-plain-port", type=int, default=48442,
                        help="the sign-in service without TLS, behind the GnuTLS front")
    parser.add_argument("--front-port", type=int, default=48446,
                        help="the GnuTLS front (lighttpd) of the scenarios with tls=3des; "
                             "the port after it, the untrusted listener's; the two next, the "
                             "sign-in fronts (Jetty) of tls=jsse")
    args = parser.parse_args()
    # From the start, a stop takes the fronts along before the site ends.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    os.makedirs(args.state, exist_ok=True)
    make_certificates(args.state)
    make_certificates(args.state, "untrusted-", "Patcher Untrusted Test CA")
    site = Site(args.state, args.http_port, args.https_port, args.untrusted_port)

    ThreadingHTTPServer.daemon_threads = True
    # Every port is bound before the site says it serves: a port held by
    # anything else (an old site, another program) must stop the tests here,
    # not let them talk to that other server.
    ports = (args.http_port, args.https_port, args.untrusted_port, args.ftp_port,
             args.signin_plain_port, *range(args.front_port, args.front_port + 4))
    wait_for_leftovers(ports)
    try:
        http = ThreadingHTTPServer(("127.0.0.1", args.http_port), handler_for(site, "patch"))
        https = SecureServer(("127.0.0.1", args.https_port), handler_for(site, "signin"), site,
                             tls_contexts(args.state),
                             {"3des": args.front_port, "jsse": args.front_port + 2})
        untrusted = SecureServer(("127.0.0.1", args.untrusted_port),
                                 handler_for(site, "signin"), site,
                                 tls_contexts(args.state, "untrusted-"),
                                 {"3des": args.front_port + 1, "jsse": args.front_port + 3})
        plain = ThreadingHTTPServer(("127.0.0.1", args.signin_plain_port),
                                    handler_for(site, "signin"))
        ftp = socket.create_server(("127.0.0.1", args.ftp_port))
        for port in range(args.front_port, args.front_port + 4):
            socket.create_server(("127.0.0.1", port)).close()
    except OSError as e:
        print(f"simulated site cannot start: a port of 127.0.0.1 {ports} is taken: {e}",
              file=sys.stderr, flush=True)
        return 2
    # scripts/site.sh stop waits until each of them is free again.
    with open(os.path.join(args.state, "site.ports"), "w", encoding="ascii") as f:
        f.write(" ".join(map(str, ports)) + "\n")
    fronts = []
    try:
        fronts.append(start_gnutls_front(args.state, args.front_port, args.front_port + 1,
                                         args.signin_plain_port))
        fronts += [start_signin_front(args.state, args.front_port + 2, args.signin_plain_port),
                   start_signin_front(args.state, args.front_port + 3, args.signin_plain_port,
                                      "untrusted-")]
        for offset, process in enumerate((fronts[0], fronts[0], fronts[1], fronts[2])):
            if process:
                wait_for_port(args.front_port + offset, process, "the sign-in front (Jetty)"
                              if offset > 1 else "the GnuTLS front (lighttpd)", seconds=60)
        for server in (http, https, untrusted, plain):
            threading.Thread(target=server.serve_forever, daemon=True).start()
        threading.Thread(target=other_scheme_listener, args=(site, ftp), daemon=True).start()
        print(f"simulated site: http://127.0.0.1:{args.http_port} https://localhost:{args.https_port}",
              flush=True)
        threading.Event().wait()
    except KeyboardInterrupt:
        pass
    finally:
        for process in fronts:
            if process:
                process.terminate()
        for process in fronts:
            if process:
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
