#!/usr/bin/env python3
"""The simulated site answers as the program's tests rely on: the sign-in
route over HTTPS ends with the package, only for a valid ticket, and every
request is recorded with its User-Agent."""
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
AGENT = "InetURL/1.0"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_site(state, http, https, ftp, untrusted):
    return subprocess.Popen([sys.executable, os.path.join(HERE, "simulated_site.py"),
                             "--state", state, "--http-port", str(http),
                             "--https-port", str(https), "--ftp-port", str(ftp),
                             "--untrusted-port", str(untrusted),
                             "--signin-plain-port", str(free_port()),
                             "--front-port", str(free_port())],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def client_context(cafile):
    """As a client that still reads the site's SHA-1 chains."""
    context = ssl.create_default_context(cafile=cafile)
    context.set_ciphers("DEFAULT:@SECLEVEL=0")
    return context


class SimulatedSite(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.state = tempfile.mkdtemp(prefix="site-")
        cls.http, cls.https, cls.ftp = free_port(), free_port(), free_port()
        cls.untrusted = free_port()
        cls.proc = start_site(cls.state, cls.http, cls.https, cls.ftp, cls.untrusted)
        ready = cls.proc.stdout.readline()
        if not ready.startswith("simulated site:"):
            cls.proc.kill()
            raise RuntimeError("the site did not start: " + cls.proc.communicate()[1])
        cls.tls = client_context(os.path.join(cls.state, "ca.crt"))

    @classmethod
    def tearDownClass(cls):
        cls.proc.kill()
        cls.proc.wait()

    def get(self, url):
        request = urllib.request.Request(url, headers={"User-Agent": AGENT})
        try:
            with urllib.request.urlopen(request, context=self.tls, timeout=10) as r:
                return r.status, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def control(self, **params):
        query = "&".join(f"{k}={v}" for k, v in params.items())
        self.get(f"http://127.0.0.1:{self.http}/_control/scenario?{query}")

    def raw_package_answer(self, path="/patches/KB835732/x.exe"):
        """Header and body as the socket delivers them, however the server ends."""
        with socket.create_connection(("127.0.0.1", self.http), timeout=10) as s:
            s.sendall(b"GET " + path.encode() + b" HTTP/1.1\r\nHost: x\r\n\r\n")
            data = b""
            while chunk := s.recv(65536):
                data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        return head, body

    def log(self):
        return json.loads(self.get(f"http://127.0.0.1:{self.http}/_control/log")[1])

    def package_url(self, name="WindowsXP-KB835732-x86-ENU.EXE"):
        return f"http://127.0.0.1:{self.http}/patches/KB835732/{name}"

    def test_package_of_exact_size(self):
        for size in (100000, 100001):
            self.control(name="package", size=size)
            status, body = self.get(self.package_url())
            self.assertEqual((200, size), (status, len(body)))
            self.assertEqual(b"MZ", body[:2])

    def test_error_page_is_short(self):
        self.control(name="error")
        status, body = self.get(self.package_url())
        self.assertEqual(404, status)
        self.assertLess(len(body), 200)

    def test_signin_route_over_https(self):
        self.control(name="signin", size=150000)
        _, page = self.get(self.package_url())
        page = page.decode()
        self.assertIn("Tarrowin Keyloom", page)
        rt = re.search(r'name="RT" value="([^"]*)"', page).group(1)
        st = re.search(r'name="ST" value="([^"]*)"', page).group(1)
        _, ret = self.get(f"https://localhost:{self.https}/login/?RT={rt};ST={st}")
        link = re.search(r'<P><A HREF="([^"]*);">', ret.decode()).group(1)
        self.assertTrue(link.startswith(self.package_url() + "?ticket="))
        status, body = self.get(link)
        self.assertEqual((200, 150000), (status, len(body)))
        # A made-up ticket gets the sign-in page again, not the package.
        _, again = self.get(self.package_url() + "?ticket=forged")
        self.assertIn(b'name="RT"', again)
        paths = [(e["server"], e["path"]) for e in self.log()]
        self.assertEqual([("patch", "/patches/KB835732/WindowsXP-KB835732-x86-ENU.EXE"),
                          ("signin", "/login/"),
                          ("patch", "/patches/KB835732/WindowsXP-KB835732-x86-ENU.EXE"),
                          ("patch", "/patches/KB835732/WindowsXP-KB835732-x86-ENU.EXE")], paths)
        self.assertTrue(all(e["agent"] == AGENT for e in self.log()))

    def test_signin_redirect_leads_to_the_https_signin_page(self):
        self.control(name="signin-redirect")
        status, page = self.get(self.package_url())
        self.assertEqual(200, status)
        self.assertIn(b'name="ST"', page)
        self.assertEqual(["patch", "signin"], [e["server"] for e in self.log()])

    def test_signin_returns_to_the_name_first_asked_for(self):
        self.control(name="signin", size=150000)
        w98 = self.package_url("828028USA8.EXE")
        _, page = self.get(w98)
        rt = re.search(r'name="RT" value="([^"]*)"', page.decode()).group(1)
        _, ret = self.get(f"https://localhost:{self.https}/login/?RT={rt};ST=st-1")
        link = re.search(r'<P><A HREF="([^"]*);">', ret.decode()).group(1)
        self.assertTrue(link.startswith(w98 + "?ticket="), link)

    def test_folder_serves_exact_names_only(self):
        folder = tempfile.mkdtemp(prefix="served-", dir=self.state)
        for name, data in (("WindowsXP-KB835732-x86-ENU.EXE", b"MZxp"), ("828028usa8.exe", b"MZ98")):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        self.control(name="folder", dir=folder)
        self.assertEqual((200, b"MZxp"), self.get(self.package_url()))
        # The name the program asks for, in another case: not served.
        self.assertEqual(404, self.get(self.package_url("828028USA8.EXE"))[0])
        self.assertEqual(404, self.get(self.package_url("Windows2000-KB835732-x86-ENU.EXE"))[0])

    def test_untrusted_listener_has_a_certificate_of_another_ca(self):
        self.control(name="signin-redirect", via="untrusted")
        with socket.create_connection(("127.0.0.1", self.http), timeout=10) as s:
            s.sendall(b"GET /patches/KB835732/x.exe HTTP/1.1\r\nHost: x\r\n\r\n")
            head = s.recv(65536)
        self.assertIn(f"Location: https://localhost:{self.untrusted}/signin/".encode(), head)
        with self.assertRaises(urllib.error.URLError) as refused:
            self.get(f"https://localhost:{self.untrusted}/signin/")
        self.assertIsInstance(refused.exception.reason, ssl.SSLCertVerificationError)
        other = client_context(os.path.join(self.state, "untrusted-ca.crt"))
        request = urllib.request.Request(f"https://localhost:{self.untrusted}/signin/")
        with urllib.request.urlopen(request, context=other, timeout=10) as answer:
            self.assertIn(b'name="RT"', answer.read())

    def test_return_pages_without_link_and_again(self):
        self.control(name="return-nolink")
        _, ret = self.get(f"https://localhost:{self.https}/login/?RT=rt-1;ST=st-2")
        self.assertIn(b"<!-- The return_url -->", ret)
        self.assertNotIn(b';">', ret)
        self.control(name="return-again")
        _, ret = self.get(f"https://localhost:{self.https}/login/?RT=rt-1;ST=st-2")
        link = re.search(rb'<P><A HREF="([^"]*);">', ret).group(1).decode()
        _, second = self.get(link)
        self.assertIn(b"<!-- The return_url -->", second)

    def test_cut_transfer_delivers_half(self):
        self.control(name="cut", size=200000)
        head, body = self.raw_package_answer()
        self.assertIn(b"Content-Length: 200000", head)
        self.assertEqual(100000, len(body))

    def test_zero_bytes_in_header_and_body_and_pages_from_files(self):
        self.control(name="zeros")
        head, body = self.raw_package_answer()
        self.assertIn(b"X-Padding: a\0b", head)
        self.assertIn(b"\0", body)
        page = os.path.join(self.state, "big.htm")
        with open(page, "wb") as f:
            f.write(b"x" * 100000)
        self.control(name="page", bodyfile=page)
        self.assertEqual((200, b"x" * 100000), self.get(self.package_url()))

    def test_connections_to_the_other_scheme_port_are_recorded(self):
        self.control(name="package")
        # The listener records the connection before it closes it.
        with socket.create_connection(("127.0.0.1", self.ftp), timeout=10) as s:
            s.recv(10)
        self.assertEqual(["ftp"], [r["server"] for r in self.log()])

    def assert_held_until_logged(self, probe_log, release, why):
        """The package request waits while the probe's log lacks `release`,
        and is answered once it is appended."""
        answers = []
        fetch = threading.Thread(target=lambda: answers.append(self.get(self.package_url())))
        fetch.start()
        fetch.join(1.0)
        self.assertEqual([], answers, why)
        with open(probe_log, "a", encoding="utf-8") as f:
            f.write(release)
        fetch.join(15)
        self.assertEqual([200], [status for status, _ in answers])

    def test_gate_holds_the_first_answer_until_a_whole_window_line_is_logged(self):
        probe_log = os.path.join(self.state, "probe.log")
        with open(probe_log, "w", encoding="utf-8") as f:
            f.write('{"event": "box"}\n{"event": "window"')
        self.control(name="package", size=100001, gate=probe_log)
        self.assert_held_until_logged(probe_log, ', "title": "t"}\n',
                                      "answered before the probe logged the window")
        # Open from then on, for every request of the scenario.
        self.assertEqual(200, self.get(self.package_url())[0])

    def test_gate_with_events_holds_until_each_is_logged(self):
        probe_log = os.path.join(self.state, "probe-events.log")
        with open(probe_log, "w", encoding="utf-8") as f:
            f.write('{"event": "window"}\n')
        self.control(name="package", size=100001, gate=probe_log,
                     gate_events="window,exit|second-exit")
        self.assert_held_until_logged(probe_log, '{"event": "second-exit", "code": 1}\n',
                                      "answered before either copy's exit was logged")

    def ticketed_path(self):
        """Where the sign-in route's return link leads, ticket and all."""
        _, page = self.get(self.package_url())
        rt = re.search(r'name="RT" value="([^"]*)"', page.decode()).group(1)
        _, ret = self.get(f"https://localhost:{self.https}/login/?RT={rt};ST=st-1")
        link = re.search(r'<P><A HREF="([^"]*);">', ret.decode()).group(1)
        return link[len(f"http://127.0.0.1:{self.http}"):]

    def test_slow_and_the_paced_signin_route_send_their_pieces_on_a_schedule(self):
        for name in ("slow", "signin"):
            with self.subTest(name):
                self.control(name=name, size=1024, piece=256, interval=0.2)
                path = self.ticketed_path() if name == "signin" else "/patches/KB835732/x.exe"
                started = time.monotonic()
                head, body = self.raw_package_answer(path)
                self.assertGreaterEqual(time.monotonic() - started, 0.6)
                self.assertIn(b"Content-Length: 1024", head)
                self.assertEqual(1024, len(body))


class TakenPort(unittest.TestCase):
    def test_a_port_held_by_another_server_stops_the_site(self):
        state = tempfile.mkdtemp(prefix="site-")
        for which in range(4):
            with socket.create_server(("127.0.0.1", 0)) as other:
                ports = [free_port(), free_port(), free_port(), free_port()]
                ports[which] = other.getsockname()[1]
                site = start_site(state, *ports)
                out, err = site.communicate(timeout=120)
                self.assertEqual(2, site.returncode, err)
                self.assertNotIn("simulated site:", out)
                self.assertIn("is taken", err)

    def test_stop_returns_once_every_port_of_the_site_is_free(self):
        """A front that outlives the site a moment still holds its port:
        scripts/site.sh stop waits for it."""
        state = tempfile.mkdtemp(prefix="site-")
        front = socket.create_server(("127.0.0.1", 0))
        with open(os.path.join(state, "site.ports"), "w", encoding="ascii") as f:
            f.write(f"{free_port()} {front.getsockname()[1]}\n")
        threading.Timer(1.5, front.close).start()
        started = time.monotonic()
        subprocess.run([os.path.join(HERE, "..", "..", "scripts", "site.sh"), "stop"], check=True,
                       env={**os.environ, "PATCHER_SITE_STATE": state}, timeout=60)
        self.assertGreaterEqual(time.monotonic() - started, 1.5)


if __name__ == "__main__":
    unittest.main()
