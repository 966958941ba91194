#!/usr/bin/env python3
"""Each Windows' PCs' hellos, replayed by scripts/handshakes.py, against servers
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
import time
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "site"))
from real_servers import Squid, wait_for_port  # noqa: E402
from test_simulated_site import free_port, start_site  # noqa: E402

SCRIPT = os.path.join(HERE, "..", "..", "scripts", "handshakes.py")
WINDOWS = ("Windows 98", "Windows Me", "Windows NT 4.0 Workstation", "Windows NT 4.0 Server",
           "Windows NT 4.0 Terminal Server", "Windows 2000", "Windows XP", "Windows Server 2003")
RUNS = "runs (SHA-256 as pinned)"
SUITES = ("no cipher suite in common ({w} offers RC4 and 3DES only: offer "
          "TLS_RSA_WITH_3DES_EDE_CBC_SHA on this host)")
SNI = ("the right certificate is shown only to a hello that names the host, and {w} names none "
       "(make it this host's default certificate)")


def unable(*findings):
    return '"unable to download" (https://{host}: ' + "; ".join(findings) + ")"


def partly(*groups, runs=None):
    """A Windows' PCs fail by group, each with its findings; the others run."""
    return ('"unable to download" ' + "; ".join(f"on {{w}} {pcs} (https://{{host}}: {found})"
                                                for pcs, found in groups) +
            (f"; runs on {{w}} {runs}" if runs else ""))


TLS1 = ["--tls1-turned-on"]
UPDATE, NO_UPDATE = "with the 2010 update (MS10-049)", "without the 2010 update"
SSL3 = ("SSL 3.0 refused (alert {}), and these PCs speak SSL 3.0 only: offer SSL 3.0 on this "
        "host, or turn TLS 1.0 on in the PCs' Internet Options by policy and check with "
        "--tls1-turned-on")
POODLE = (" (warning: {w} only over SSL 3.0: SSL 3.0 is broken (POODLE): TLS 1.0 turned on by "
          "policy is the better road, then check with --tls1-turned-on)")
IE6 = "with Internet Explorer 6, "


def shape(sent):
    return (f"the host refuses the hello these PCs send (alert handshake_failure), with {sent}, yet "
            "takes their suites from a hello of today: it must not require safe renegotiation or "
            "encrypt-then-MAC (GnuTLS: no %SAFE_RENEGOTIATION, no %FORCE_ETM)")


# (server, Windows, options, the verdict the package line ends with). Each
# server's hellos are the PCs' own (testssl.sh's records and the ones
# derived from them); "jsse" answers every one of them.
CASES = [
    ("site", "Windows XP", TLS1, unable(SUITES)),
    ("site-modern", "Windows XP", TLS1,
     unable("no protocol that {w} speaks (offer TLS 1.0 on this host)")),
    ("site-sni", "Windows XP", TLS1, unable(SUITES, SNI)),
    # The Java front: SSL 3.0 and TLS 1.0 with RC4 and 3DES, every hello.
    ("site-jsse", "Windows 2000", [], RUNS + POODLE.replace("{w}", "on {w} as shipped (SSL 3.0 "
                                                            "only; TLS 1.0 off)")),
    ("site-jsse", "Windows XP", [],
     RUNS + POODLE.replace("{w}", f"on {{w}} {IE6}{UPDATE} and {IE6}{NO_UPDATE}")),
    ("site-jsse", "Windows 98", TLS1, RUNS),
    # The same without SSL 3.0: the PCs left as shipped fail, named so.
    ("jsse-tls1", "Windows 98", [], unable(SSL3.format("protocol_version"))),
    ("jsse-tls1", "Windows Server 2003", [],
     partly((IE6 + UPDATE, SSL3.format("protocol_version")),
            (IE6 + NO_UPDATE, SSL3.format("protocol_version")),
            runs=f"with Internet Explorer 7 or 8, {UPDATE} and with Internet Explorer 7 or 8, "
                 f"{NO_UPDATE}")),
    # lighttpd's mod_gnutls drops a hello without extensions unanswered.
    ("site-3des", "Windows 2000", TLS1,
     unable("the host drops the hello these PCs send, with no extension, without an answer (as "
            "lighttpd's mod_gnutls does): put a front before it that takes such hellos")),
    # GnuTLS requiring safe renegotiation: only the 2010 update sends it.
    ("safe-renegotiation", "Windows 2000", TLS1, unable(shape("no extension"))),
    ("safe-renegotiation", "Windows XP", TLS1,
     partly((NO_UPDATE, shape("no extension")), runs=UPDATE)),
    ("etm", "Windows XP", TLS1, partly((UPDATE, shape("renegotiation_info only")),
                                       (NO_UPDATE, shape("no extension")))),
    ("plain", "Windows 2000", TLS1, RUNS),
    ("plain", "Windows XP", TLS1, RUNS),
    # OpenSSL, TLS 1.2 and later, to the SSL 2.0-format hello.
    ("site-modern", "Windows 98", [], unable(SSL3.format("handshake_failure"))),
    # The patch server's plain HTTP: an answer that is not TLS.
    ("http", "Windows XP", TLS1, unable("the host answers with something that is not TLS")),
    ("sha256", "Windows XP", TLS1, RUNS),
    ("sha256", "Windows 2000", TLS1,
     unable("a certificate signed with SHA-256, which {w} cannot check (these PCs need a chain "
            "signed with SHA-1)")),
    ("sha256", "Windows Server 2003", TLS1,
     unable("a certificate signed with SHA-256, which {w} checks only with update KB968730 "
            "(these PCs need a chain signed with SHA-1)")),
    ("ecdsa", "Windows XP", TLS1, unable("an ECDSA key, which {w} cannot use (give this host an "
                                         "RSA key)")),
    ("closed", "Windows XP", [],
     unable("no connection from this machine to try the handshake of {w}")),
    # Served directly over HTTP: no handshake to try, whatever the sign-in
    # service speaks.
    ("none", "Windows XP", [], RUNS),
    # Through the PCs' proxy (squid): the hellos go through its tunnel.
    ("site-jsse", "Windows XP", TLS1 + ["--proxy", "{proxy}"], RUNS),
    ("site-modern", "Windows XP", TLS1 + ["--proxy", "{proxy}"],
     unable("no protocol that {w} speaks (offer TLS 1.0 on this host)")),
]
# gnutls-serv's TLS, by server: (priority, certificate).
GNUTLS = {
    "sha256": ("NORMAL:+VERS-TLS1.0:+3DES-CBC:+ARCFOUR-128", "sha256"),
    "ecdsa": ("NORMAL:+VERS-TLS1.0:+3DES-CBC:+ARCFOUR-128", "ecdsa"),
    "plain": ("NORMAL:+VERS-TLS1.0:+3DES-CBC:+ARCFOUR-128:+RSA", "sha1"),
    "safe-renegotiation": ("NORMAL:+VERS-TLS1.0:+3DES-CBC:+ARCFOUR-128:+RSA:%SAFE_RENEGOTIATION",
                           "sha1"),
    "etm": ("NORMAL:+VERS-TLS1.0:+3DES-CBC:+RSA:%FORCE_ETM", "sha1"),
}


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True)


def gnutls_certificates(folder):
    """A SHA-256 CA with RSA leaves for localhost signed with SHA-256 and with
    SHA-1, and an ECDSA leaf: each file the leaf and then the CA."""
    ca_key, ca = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.crt")
    openssl("req", "-x509", "-sha256", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj",
            "/CN=Handshake Test CA", "-keyout", ca_key, "-out", ca)
    made = {}
    for name, key_args in (("sha256", ["-newkey", "rsa:2048"]), ("sha1", ["-newkey", "rsa:2048"]),
                           ("ecdsa", ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"])):
        key, csr = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".csr")
        leaf, ext = os.path.join(folder, name + ".crt"), os.path.join(folder, name + ".ext")
        openssl("req", *key_args, "-nodes", "-subj", "/CN=localhost", "-keyout", key, "-out", csr)
        with open(ext, "w", encoding="ascii") as f:
            f.write("subjectAltName=DNS:localhost\n")
        openssl("x509", "-req", "-" + name.replace("ecdsa", "sha256"), "-in", csr, "-CA", ca, "-CAkey", ca_key,
                "-CAcreateserial", "-days", "30", "-out", leaf, "-extfile", ext)
        chain = os.path.join(folder, name + "-chain.crt")
        with open(chain, "w", encoding="ascii") as f:
            for part in (leaf, ca):
                with open(part, encoding="ascii") as g:
                    f.write(g.read())
        made[name] = (chain, key)
    return made


def stop(process):
    process.kill()
    process.communicate()


class Handshakes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="handshakes-")
        http, https = free_port(), free_port()
        site = start_site(os.path.join(cls.folder, "site"), http, https, free_port(),
                          free_port())
        cls.addClassCleanup(stop, site)
        if not site.stdout.readline().startswith("simulated site:"):
            raise RuntimeError("the site did not start: " + site.communicate()[1])
        cls.control = f"http://127.0.0.1:{http}/_control/scenario?name=signin&tls="
        cls.ports = {"site": https, "site-modern": https, "site-sni": https,
                     "site-3des": https, "site-jsse": https, "http": http, "closed": free_port()}
        made = gnutls_certificates(cls.folder)
        for name, (priority, leaf) in GNUTLS.items():
            chain, key = made[leaf]
            cls.ports[name] = cls.serve(name, ["gnutls-serv", "--echo", "--priority", priority,
                                               "--x509certfile", chain, "--x509keyfile", key,
                                               "--port"])
        port = cls.ports["jsse-tls1"] = free_port()
        front = subprocess.Popen([os.path.join(HERE, "..", "..", "scripts", "signin-front"),
                                  "--listen", f"127.0.0.1:{port}", "--backend",
                                  f"127.0.0.1:{free_port()}", "--cert", made["sha1"][0], "--key",
                                  made["sha1"][1], "--tls1-only"], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        cls.addClassCleanup(stop, front)
        wait_for_port(port, front, "the sign-in front", seconds=60)
        cls.squid = Squid(os.path.join(cls.folder, "squid"), free_port(), [https])
        cls.addClassCleanup(cls.squid.stop)
        cls.squid.start()

    @classmethod
    def serve(cls, what, command, after=()):
        port = free_port()
        server = subprocess.Popen([*command, str(port), *after], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        cls.addClassCleanup(stop, server)
        wait_for_port(port, server, what, seconds=60)
        return port

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
                runs = expected.startswith(RUNS)
                self.assertEqual(0 if runs else 1, code)
                summary = "summary: 1 of 1 pinned packages would run" if runs else \
                    f"summary: 0 of 1 pinned packages would run; not on: {windows}"
                self.assertIn(summary, lines)
                if "--proxy" in options:
                    tunnels = [url for _, method, url in self.squid.log() if method == "CONNECT"]
                    self.assertIn(f"localhost:{self.ports[server]}", tunnels)

    def test_one_host_alone(self):
        """check-site.sh --handshakes: a line per Windows and hello, in seconds."""
        check = os.path.join(HERE, "..", "..", "scripts", "check-site.sh")
        # Every Windows' every hello: the Java front with SSL 3.0 takes them
        # as shipped, plain GnuTLS with TLS 1.0 turned on. With --ca, a chain
        # that leads to none of the CAs given is warned of, and only that.
        ca, other = os.path.join(self.folder, "ca.crt"), os.path.join(self.folder, "other.crt")
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Other CA",
                "-keyout", os.path.join(self.folder, "other.key"), "-out", other)
        for server, options, code, lines, warned in (
                ("jsse-tls1", [], 1, 14, 0), ("jsse-tls1", TLS1, 0, 10, 0),
                ("site-jsse", [], 0, 14, 0), ("plain", TLS1 + ["--ca", ca], 0, 10, 0),
                ("plain", TLS1 + ["--ca", other], 0, 10, 10), ("closed", [], 2, 0, 0)):
            with self.subTest(server=server, options=options):
                if server.startswith("site"):
                    with urllib.request.urlopen(self.control + server[5:], timeout=10) as answer:
                        answer.read()
                start = time.monotonic()
                done = subprocess.run([check, "--handshakes", f"localhost:{self.ports[server]}",
                                       *options], capture_output=True, text=True, timeout=60,
                                      check=False)
                self.assertLess(time.monotonic() - start, 30)
                self.assertEqual(code, done.returncode, done.stderr)
                out = done.stdout.splitlines()
                self.assertEqual(lines, len(out))
                self.assertTrue(all(line.split(" | ")[0] in WINDOWS for line in out))
                verdicts = [line.rsplit(" | ", 1)[-1] for line in out]
                self.assertEqual(code == 0, bool(out) and all(v.startswith("runs")
                                                              for v in verdicts))
                self.assertEqual(warned, sum("leads to no CA given" in v for v in verdicts))


if __name__ == "__main__":
    unittest.main()
