#!/usr/bin/env python3
"""Each Windows' handshake, tried by scripts/handshakes.py, against servers
that speak what the old PCs can and cannot: the simulated site's sign-in
service in its TLS variants (OpenSSL at TLS 1.0 with AES only; TLS 1.2 and
later only; the right certificate only for a hello naming the host; the
GnuTLS front with 3DES) and gnutls-serv with certificates the old PCs cannot
read. One table: a server, the line's Windows and options, and the verdict
the line must end with."""
import os
import subprocess
import sys
import tempfile
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "site"))
from real_servers import Squid, wait_for_port  # noqa: E402
from test_simulated_site import free_port, start_site  # noqa: E402

SCRIPT = os.path.join(HERE, "..", "..", "scripts", "handshakes.py")
RUNS = "runs (SHA-256 as pinned)"
SUITES = ("no cipher suite in common ({w} offers RC4 and 3DES only: offer "
          "TLS_RSA_WITH_3DES_EDE_CBC_SHA on this host)")
SNI = ("the right certificate is shown only to a hello that names the host, and {w} names none "
       "(make it this host's default certificate)")


def unable(*findings):
    return '"unable to download" (https://{host}: ' + "; ".join(findings) + ")"


# (server, Windows, options, the verdict the package line ends with)
CASES = [
    ("site", "Windows XP", [], unable(SUITES)),
    ("site-modern", "Windows XP", [],
     unable("no protocol that {w} speaks (offer TLS 1.0 on this host)")),
    ("site-sni", "Windows XP", [], unable(SUITES, SNI)),
    ("site-3des", "Windows XP", [], RUNS),
    ("site-3des", "Windows Server 2003", [], RUNS),
    # TLS 1.0 is off by default before Internet Explorer 7, and SSL 3.0
    # cannot be tried here: never passed, unless the PCs have TLS 1.0 on.
    ("site-3des", "Windows 2000", [],
     "not known: {w} speaks SSL 3.0 unless TLS 1.0 is turned on in its Internet Options, and "
     "SSL 3.0 cannot be tried from this machine (TLS 1.0 passes: turn it on by policy, then "
     "check with --tls1-turned-on)"),
    ("site-3des", "Windows 98", ["--tls1-turned-on"], RUNS),
    ("site-modern", "Windows 98", [],
     '"unable to download" where TLS 1.0 is turned on (https://{host}: no protocol that {w} '
     "speaks (offer TLS 1.0 on this host)); SSL 3.0, {w}'s default, cannot be tried from this "
     "machine"),
    ("sha256", "Windows XP", [], RUNS),
    ("sha256", "Windows 2000", ["--tls1-turned-on"],
     unable("a certificate signed with SHA-256, which {w} cannot check (these PCs need a chain "
            "signed with SHA-1)")),
    ("sha256", "Windows Server 2003", [],
     unable("a certificate signed with SHA-256, which {w} checks only with update KB968730 "
            "(these PCs need a chain signed with SHA-1)")),
    ("ecdsa", "Windows XP", [], unable("an ECDSA key, which {w} cannot use (give this host an "
                                       "RSA key)")),
    ("closed", "Windows XP", [],
     unable("no connection from this machine to try the handshake of {w}")),
    # Served directly over HTTP: no handshake to try, whatever the sign-in
    # service speaks.
    ("none", "Windows XP", [], RUNS),
    # Through the PCs' proxy (squid): the handshake goes through its tunnel.
    ("site-3des", "Windows XP", ["--proxy", "{proxy}"], RUNS),
    ("site-modern", "Windows XP", ["--proxy", "{proxy}"],
     unable("no protocol that {w} speaks (offer TLS 1.0 on this host)")),
]


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def gnutls_certificates(folder):
    """A SHA-256 CA with an RSA leaf for localhost signed with SHA-256, and an
    ECDSA leaf: each file the leaf and then the CA."""
    ca_key, ca = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.crt")
    openssl("req", "-x509", "-sha256", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj",
            "/CN=Handshake Test CA", "-keyout", ca_key, "-out", ca)
    made = {}
    for name, key_args in (("sha256", ["-newkey", "rsa:2048"]),
                           ("ecdsa", ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"])):
        key, csr = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".csr")
        leaf, ext = os.path.join(folder, name + ".crt"), os.path.join(folder, name + ".ext")
        openssl("req", *key_args, "-nodes", "-subj", "/CN=localhost", "-keyout", key, "-out", csr)
        with open(ext, "w", encoding="ascii") as f:
            f.write("subjectAltName=DNS:localhost\n")
        openssl("x509", "-req", "-sha256", "-in", csr, "-CA", ca, "-CAkey", ca_key,
                "-CAcreateserial", "-days", "30", "-out", leaf, "-extfile", ext)
        chain = os.path.join(folder, name + "-chain.crt")
        with open(chain, "w", encoding="ascii") as f:
            for part in (leaf, ca):
                with open(part, encoding="ascii") as g:
                    f.write(g.read())
        made[name] = (chain, key)
    return made


class Handshakes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="handshakes-")
        cls.processes = []
        http, https = free_port(), free_port()
        site = start_site(os.path.join(cls.folder, "site"), http, https, free_port(),
                          free_port())
        cls.processes.append(site)
        if not site.stdout.readline().startswith("simulated site:"):
            raise RuntimeError("the site did not start: " + site.communicate()[1])
        cls.control = f"http://127.0.0.1:{http}/_control/scenario?name=signin&tls="
        cls.ports = {"site": https, "site-modern": https, "site-sni": https,
                     "site-3des": https, "closed": free_port()}
        for name, (chain, key) in gnutls_certificates(cls.folder).items():
            port = free_port()
            serv = subprocess.Popen(["gnutls-serv", "--port", str(port), "--echo",
                                     "--priority", "NORMAL:+VERS-TLS1.0:+3DES-CBC:+ARCFOUR-128",
                                     "--x509certfile", chain, "--x509keyfile", key],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            cls.processes.append(serv)
            wait_for_port(port, serv, "gnutls-serv", seconds=30)
            cls.ports[name] = port
        cls.squid = Squid(os.path.join(cls.folder, "squid"), free_port(), [https])
        cls.squid.start()

    @classmethod
    def tearDownClass(cls):
        cls.squid.stop()
        for process in cls.processes:
            process.kill()
            process.communicate()

    def judge(self, server, windows, options):
        if server.startswith("site"):
            with urllib.request.urlopen(self.control + server[5:], timeout=10) as answer:
                answer.read()
        route = "direct, 0 redirects"
        if server != "none":
            route = f"sign-in pages (2 follow-up fetches), 0 redirects, HTTPS at localhost:" \
                    f"{self.ports[server]}"
        table = ("checking http://127.0.0.1:48080/patches/KB835732/ (sign-in service "
                 "localhost:48443), pinned release\n"
                 f"{windows} | x.exe | {route} | 150000 bytes, length announced | 0.1 s, 1 KB/s "
                 f"| {RUNS}\nsummary: 1 of 1 pinned packages would run\n")
        options = [o.format(proxy=f"127.0.0.1:{self.squid.port}") for o in options]
        done = subprocess.run([sys.executable, SCRIPT, "--code", "0", *options], input=table,
                              capture_output=True, text=True, timeout=300, check=False)
        return done.returncode, done.stdout.splitlines()

    def test_each_windows_handshake(self):
        for server, windows, options, verdict in CASES:
            with self.subTest(server=server, windows=windows, options=options):
                code, lines = self.judge(server, windows, options)
                expected = verdict.format(w=windows, host=f"localhost:{self.ports.get(server)}")
                self.assertEqual(expected, lines[1].rsplit(" | ", 1)[-1])
                runs = expected == RUNS
                self.assertEqual(0 if runs else 1, code)
                summary = "summary: 1 of 1 pinned packages would run" if runs else \
                    f"summary: 0 of 1 pinned packages would run; not on: {windows}"
                self.assertIn(summary, lines)
                if "--proxy" in options:
                    tunnels = [url for _, method, url in self.squid.log() if method == "CONNECT"]
                    self.assertIn(f"localhost:{self.ports[server]}", tunnels)


if __name__ == "__main__":
    unittest.main()
