#!/usr/bin/env python3
"""scripts/signin-front as a site runs it, on a service's usual 1024
descriptors, before a sign-in service on loopback: every hello of the PCs
and a browser of today get through, the service learns each PC's own
address, a renegotiation is refused, and the front outlives clients that
never speak or trickle."""
import contextlib
import glob
import http.server
import os
import resource
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.join(HERE, "..", "..", "scripts")
sys.path.insert(0, HERE)
from real_servers import wait_for_port  # noqa: E402
from simulated_site import make_certificates  # noqa: E402
from test_simulated_site import free_port  # noqa: E402


class SigninService(http.server.BaseHTTPRequestHandler):
    forwarded = []

    def do_GET(self):
        SigninService.forwarded.append((self.headers.get_all("X-Forwarded-For"),
                                        self.headers.get_all("Forwarded")))
        body = b"<HTML><BODY><H1>Tarrowin Keyloom</H1></BODY></HTML>\n"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class SigninFront(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        folder = tempfile.mkdtemp(prefix="signin-front-")
        cls.addClassCleanup(shutil.rmtree, folder)
        crt, key = make_certificates(folder)
        service = http.server.ThreadingHTTPServer(("127.0.0.1", 0), SigninService)
        threading.Thread(target=service.serve_forever, daemon=True).start()
        cls.addClassCleanup(lambda: (service.shutdown(), service.server_close()))
        cls.port, cls.log = free_port(), os.path.join(folder, "front.log")
        with open(cls.log, "wb") as log:
            cls.front = subprocess.Popen(
                [os.path.join(SCRIPTS, "signin-front"), "--listen", f"127.0.0.1:{cls.port}",
                 "--backend", f"127.0.0.1:{service.server_port}", "--cert", crt, "--key", key],
                stdout=log, stderr=subprocess.STDOUT, env={**os.environ, "TMPDIR": folder},
                preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (1024, 1024)))
        cls.addClassCleanup(lambda: (cls.front.kill(), cls.front.wait()))
        wait_for_port(cls.port, cls.front, "the sign-in front", seconds=60)
        # Its keystore and the keystore's password: read, then deleted.
        deadline = time.monotonic() + 10
        while glob.glob(os.path.join(folder, "signin-front.*")) and time.monotonic() < deadline:
            time.sleep(0.1)
        cls.scratch_left = glob.glob(os.path.join(folder, "signin-front.*"))
        # A browser of today at TLS 1.2 that still reads the site's SHA-1 chain.
        cls.tls = ssl.create_default_context(cafile=os.path.join(folder, "ca.crt"))
        cls.tls.set_ciphers("DEFAULT:@SECLEVEL=0")
        cls.tls.minimum_version = cls.tls.maximum_version = ssl.TLSVersion.TLSv1_2

    def sign_in(self, source="127.0.0.1"):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10,
                                      source_address=(source, 0)) as raw, \
                self.tls.wrap_socket(raw, server_hostname="localhost") as s:
            s.sendall(b"GET /signin/ HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
                      b"X-Forwarded-For: 192.0.2.9\r\nForwarded: for=192.0.2.9\r\n\r\n")
            answer = b""
            while chunk := s.recv(65536):
                answer += chunk
            return s.version(), answer

    def logged(self, text, seconds=10):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                if text in f.read():
                    return True
            time.sleep(0.2)
        return False

    def test_the_pcs_hellos_and_a_browser_of_today(self):
        check = os.path.join(SCRIPTS, "check-site.sh")
        for options in ([], ["--tls1-turned-on"], ["--tls1-turned-on", "--ssl2-turned-off"]):
            done = subprocess.run([check, "--handshakes", f"localhost:{self.port}", *options],
                                  capture_output=True, text=True, timeout=120, check=False)
            lines = [line for line in done.stdout.splitlines() if " | " in line]
            self.assertEqual(0, done.returncode, done.stdout + done.stderr)
            self.assertTrue(lines and all(" | runs (" in line for line in lines), done.stdout)
        SigninService.forwarded.clear()
        version, answer = self.sign_in("127.0.0.2")
        self.assertEqual("TLSv1.2", version)
        self.assertIn(b"Tarrowin Keyloom", answer)
        # Only what the front saw, never what the client claims.
        self.assertEqual([(["127.0.0.2"], ["for=127.0.0.2;proto=https"])], SigninService.forwarded)
        self.assertEqual([], self.scratch_left)
        self.assertTrue(self.logged(" 127.0.0.2 TLSv1.2 TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256 "
                                    "1 request, "))
        # Plain HTTP on the TLS port: refused, and logged with Java's reason.
        with socket.create_connection(("127.0.0.1", self.port), timeout=10,
                                      source_address=("127.0.0.3", 0)) as s, \
                contextlib.suppress(OSError):
            s.sendall(b"GET / HTTP/1.0\r\n\r\n")
            s.recv(100)
        self.assertTrue(self.logged(" 127.0.0.3 - - handshake refused (Unrecognized SSL message"))

    def test_renegotiation_asked_by_the_client_is_refused(self):
        session = subprocess.run(
            ["bash", "-c", "(echo R; sleep 2; printf 'GET / HTTP/1.1\\r\\nHost: x\\r\\n\\r\\n'; "
             f"sleep 2) | openssl s_client -connect 127.0.0.1:{self.port} -tls1_2"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=30, check=False)
        self.assertIn("RENEGOTIATING", session.stdout)
        self.assertNotIn("HTTP/1.1 200", session.stdout)

    def test_trickling_and_silent_clients(self):
        """A hello trickled a byte every 20 s is cut by the front's deadline;
        then 1,500 silent connections held 45 s on its 1024 descriptors: the
        front never stops accepting, and serves again within 10 s."""
        self.assertLess(self.trickle(20), 90)
        self.assertTrue(self.logged(" 127.0.0.1 - - handshake cut at the 20 s deadline, "))
        resource.setrlimit(resource.RLIMIT_NOFILE, (4096, 4096))
        silent = []
        for _ in range(1500):
            silent.append(socket.socket())
            silent[-1].setblocking(False)
            silent[-1].connect_ex(("127.0.0.1", self.port))
        time.sleep(45)
        # Let go with a reset: closed in the ordinary way, 1,500 client ports
        # would stay in TIME_WAIT a minute, some of them the fixed ports the
        # next servers of the suite listen on.
        for s in silent:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            s.close()
        released = time.monotonic()
        while True:
            try:
                self.assertIn(b"Tarrowin Keyloom", self.sign_in()[1])
                break
            except OSError:
                self.assertLess(time.monotonic() - released, 10, "not served again")
                time.sleep(0.2)
        self.assertLess(time.monotonic() - released, 10)

    def trickle(self, gap):
        """Seconds until the front closed a connection sending a hello a
        byte each `gap` s (given up at 120 s)."""
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", self.port), timeout=gap) as s:
            for byte in b"\x16\x03\x01\x00\x80" + b"\x01" * 0x80:
                if time.monotonic() - start > 120:
                    break
                try:
                    s.sendall(bytes([byte]))
                    if s.recv(1) == b"":
                        break
                except socket.timeout:
                    continue
                except OSError:
                    break
        return time.monotonic() - start


if __name__ == "__main__":
    unittest.main()
