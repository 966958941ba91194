#!/usr/bin/env python3
"""Each Windows' PCs' hellos, replayed by scripts/handshakes.py, against servers
that speak what the old PCs can and cannot: the simulated site's sign-in
service in its TLS variants (OpenSSL at TLS 1.0 with AES only; TLS 1.2 and
later only; the right certificate only for a hello naming the host; the
GnuTLS front with 3DES), gnutls-serv with certificates the old PCs cannot
read, the Java front without SSL 3.0 or the SSL 2.0-format hello, and a
server that stops after its ServerHello. One table: a server, the line's
Windows and options, and the verdict the line must end with."""
import os
import socket
import subprocess
import sys
import tempfile
import threading
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
SUITES = "no cipher suite in common (alert handshake_failure)"
SNI = "the right certificate is shown only to a hello that names the host, which {w} does not"


def unable(*findings):
    return '"unable to download" (https://{host}: ' + "; ".join(findings) + ")"


def partly(*groups, runs=()):
    """Some PCs of a Windows fail, by finding; the others run."""
    return ('"unable to download" ' + "; ".join(
        f"on {{w}} {' and '.join(pcs)} (https://{{host}}: {found})" for pcs, found in groups) +
        (f"; runs on {{w}} {' and '.join(runs)}" if runs else ""))


TLS1 = ["--tls1-turned-on"]
IE8, IE6 = "with Internet Explorer 7 or 8, ", "with Internet Explorer 6"
UPDATE, NO_UPDATE = "with the 2010 update (MS10-049)", "without the 2010 update"
SSL3 = "SSL 3.0 refused (alert {})"
IE6_TLS1 = (f"{IE6} with TLS 1.0 turned on, {UPDATE}", f"{IE6} with TLS 1.0 turned on, {NO_UPDATE}")
V2 = ("the host takes no SSL 2.0-format hello (alert handshake_failure), which Internet Explorer 6 "
      "sends while SSL 2.0 is on")
SHA256 = "a certificate signed with SHA-256, which {w} "


def shape(sent):
    return (f"the host refuses the hello these PCs send, with {sent} (alert handshake_failure), "
            "yet takes their suites in a hello of today")


# (server, Windows, options, the verdict the package line ends with). Each
# server's hellos are the PCs' own (testssl.sh's records and the ones
# derived from them); "jsse" answers every one of them.
CASES = [
    ("site", "Windows XP", TLS1, unable(SUITES)),
    ("site-modern", "Windows XP", TLS1, unable("no protocol that {w} speaks (alert "
                                               "protocol_version)")),
    ("site-sni", "Windows XP", TLS1, unable(SUITES, SNI)),
    # The Java front: SSL 3.0 and TLS 1.0 with RC4 and 3DES, every hello.
    ("site-jsse", "Windows 2000", [],
     RUNS + " (warning: on {w} as shipped (SSL 3.0 only; TLS 1.0 off) only over SSL 3.0)"),
    ("site-jsse", "Windows XP", [], RUNS + f" (warning: on {{w}} {IE6}, {UPDATE} and {IE6}, "
                                           f"{NO_UPDATE} only over SSL 3.0)"),
    ("site-jsse", "Windows 98", TLS1, RUNS),
    # The same without SSL 3.0: the PCs left as shipped fail, named so.
    ("jsse-tls1", "Windows 98", [], unable(SSL3.format("protocol_version"))),
    ("jsse-tls1", "Windows Server 2003", [],
     partly(((f"{IE6}, {UPDATE}", f"{IE6}, {NO_UPDATE}"), SSL3.format("protocol_version")),
            runs=(IE8 + UPDATE, IE8 + NO_UPDATE))),
    # ... and without the SSL 2.0-format hello: Internet Explorer 6 fails with
    # TLS 1.0 turned on too, unless SSL 2.0 is off.
    ("jsse-nov2", "Windows 98", TLS1, unable(V2)),
    ("jsse-nov2", "Windows XP", TLS1, partly((IE6_TLS1, V2), runs=(IE8 + UPDATE, IE8 + NO_UPDATE))),
    ("jsse-nov2", "Windows 2000", TLS1 + ["--ssl2-turned-off"], RUNS),
    # lighttpd's mod_gnutls drops a hello without extensions unanswered.
    ("site-3des", "Windows 2000", TLS1,
     unable("the host drops the hello these PCs send, with no extension, without an answer")),
    # GnuTLS requiring safe renegotiation: only the 2010 update sends it.
    ("safe-renegotiation", "Windows 2000", TLS1, unable(shape("no extension"))),
    ("safe-renegotiation", "Windows XP", TLS1,
     partly(((IE8 + NO_UPDATE, IE6_TLS1[1]), shape("no extension")),
            runs=(IE8 + UPDATE, IE6_TLS1[0]))),
    ("etm", "Windows XP", TLS1, partly(((IE8 + UPDATE,), shape("renegotiation_info only")),
                                       ((IE8 + NO_UPDATE, *IE6_TLS1), shape("no extension")))),
    ("plain", "Windows 2000", TLS1, RUNS),
    ("plain", "Windows XP", TLS1, RUNS),
    # The PCs trust only the CAs given.
    ("plain", "Windows XP", TLS1 + ["--ca", "{other}"],
     unable("its certificate leads to none of the CAs given with --ca (WinINet error 12045, an "
            "unknown authority)")),
    # A first flight cut short fails every PC, whatever its hello.
    ("stops", "Windows 98", [], unable("the host sends ServerHello, then closes the connection "
                                       "where its Certificate was due")),
    ("stops", "Windows Server 2003", TLS1, unable("the host sends ServerHello, then closes the "
                                                  "connection where its Certificate was due")),
    ("skips", "Windows XP", TLS1, unable("the host sends ServerHello, then sends ServerHelloDone "
                                         "where its Certificate was due")),
    # A suite the PCs did not offer ends the handshake there.
    ("aes", "Windows XP", TLS1, unable("the host answers with cipher suite 0x2f, which these PCs "
                                       "did not offer")),
    # OpenSSL, TLS 1.2 and later, to the SSL 2.0-format hello.
    ("site-modern", "Windows 98", [], unable(SSL3.format("handshake_failure"))),
    # The patch server's plain HTTP: an answer that is not TLS.
    ("http", "Windows XP", TLS1, unable("the host answers with something that is not TLS")),
    # A SHA-256 leaf under a SHA-1 root: Windows XP from Service Pack 3 only,
    # which every XP with the 2010 update runs.
    ("sha256", "Windows XP", TLS1,
     partly(((f"{IE8}{NO_UPDATE}, before Service Pack 3", IE6_TLS1[1] + ", before Service Pack 3"),
             SHA256 + "checks from Service Pack 3 only"),
            runs=(IE8 + UPDATE, f"{IE8}{NO_UPDATE}, Service Pack 3", IE6_TLS1[0],
                  IE6_TLS1[1] + ", Service Pack 3"))),
    ("sha256", "Windows 2000", TLS1, unable(SHA256 + "cannot check")),
    ("sha256", "Windows Server 2003", TLS1, unable(SHA256 + "checks only with update KB968730")),
    ("ecdsa", "Windows XP", TLS1, unable("an ECDSA key, which {w} cannot use")),
    ("closed", "Windows XP", [], unable("no connection from this machine")),
    # Served directly over HTTP: no handshake to try, whatever the sign-in
    # service speaks.
    ("none", "Windows XP", [], RUNS),
    # Through the PCs' proxy (squid): the hellos go through its tunnel.
    ("site-jsse", "Windows XP", TLS1 + ["--proxy", "{proxy}"], RUNS),
    ("site-modern", "Windows XP", TLS1 + ["--proxy", "{proxy}"],
     unable("no protocol that {w} speaks (alert protocol_version)")),
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
    """A SHA-1 CA with RSA leaves for localhost signed with SHA-256 and with
    SHA-1, and an ECDSA leaf: each file the leaf and then the CA."""
    ca_key, ca = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.crt")
    openssl("req", "-x509", "-sha1", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-subj",
            "/CN=Handshake Test CA", "-keyout", ca_key, "-out", ca)
    made = {}
    for name, key_args in (("sha256", ["-newkey", "rsa:2048"]), ("sha1", ["-newkey", "rsa:2048"]),
                           ("ecdsa", ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"])):
        key, csr = os.path.join(folder, name + ".key"), os.path.join(folder, name + ".csr")
        leaf, ext = os.path.join(folder, name + ".crt"), os.path.join(folder, name + ".ext")
        openssl("req", *key_args, "-nodes", "-subj", "/CN=localhost", "-keyout", key, "-out", csr)
        with open(ext, "w", encoding="ascii") as f:
            f.write("subjectAltName=DNS:localhost\n")
        openssl("x509", "-req", "-" + name.replace("ecdsa", "sha256"), "-in", csr, "-CA", ca,
                "-CAkey", ca_key, "-CAcreateserial", "-days", "30", "-out", leaf, "-extfile", ext)
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


def first_flight(listener, suite, rest):
    """A server that answers each hello with a ServerHello of its version and
    that suite, then the messages `rest`, then closes: a first flight cut short."""
    while True:
        client, _ = listener.accept()
        with client:
            hello = client.recv(4096)
            version = hello[3:5] if hello[:1] >= b"\x80" else hello[9:11]
            body = version + bytes(32) + b"\x00" + suite + b"\x00"
            messages = b"\x02" + len(body).to_bytes(3, "big") + body + rest
            client.sendall(b"\x16" + version + len(messages).to_bytes(2, "big") + messages)


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
        store = os.path.join(cls.folder, "front.p12")
        openssl("pkcs12", "-export", "-in", made["sha1"][0], "-inkey", made["sha1"][1],
                "-passout", "pass:front", "-out", store)
        cls.ports["jsse-nov2"] = cls.serve("the JSSE relay", [
            "java", "-Xmx64m", os.path.join(HERE, "jsse_relay_fixture.java")],
            [store, "front", str(free_port()), "tls1-only", "no-sslv2hello"])
        # 3DES and nothing more; a ServerHelloDone with no Certificate; AES.
        for name, suite, rest in (("stops", b"\x00\x0a", b""),
                                  ("skips", b"\x00\x0a", b"\x0e\x00\x00\x00"),
                                  ("aes", b"\x00\x2f", b"")):
            listener = socket.create_server(("127.0.0.1", 0))
            cls.addClassCleanup(listener.close)
            cls.ports[name] = listener.getsockname()[1]
            threading.Thread(target=first_flight, args=(listener, suite, rest),
                             daemon=True).start()
        cls.other = os.path.join(cls.folder, "other.crt")
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Other CA",
                "-keyout", os.path.join(cls.folder, "other.key"), "-out", cls.other)
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

    def judge(self, server, windows, options, code=0, env=None):
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
        options = [o.format(proxy=f"127.0.0.1:{self.squid.port}", other=self.other)
                   for o in options]
        done = subprocess.run([sys.executable, SCRIPT, "--code", str(code), *options],
                              input=table, capture_output=True, text=True, timeout=300,
                              check=False, env=env)
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

    def test_the_table_kept(self):
        """The check's own exit 1 stays; where the handshakes cannot be tried
        the table stands, one line says why, and the exit code is not 0."""
        env = dict(os.environ, PATCHER_TESTSSL_DATA=os.path.join(self.folder, "none.txt"))
        for env, code, exit_code in ((None, 1, 1), (env, 0, 2), (env, 1, 1)):
            with self.subTest(env=bool(env), code=code):
                done, lines = self.judge("plain", "Windows XP", TLS1, code, env)
                self.assertEqual(exit_code, done)
                self.assertTrue(lines[1].endswith(" | " + RUNS))
                self.assertEqual("summary: 1 of 1 pinned packages would run", lines[-1])
                self.assertEqual(bool(env), any(line.startswith(
                    "handshakes: not tried, so the lines above say nothing of the PCs' own TLS: "
                    "no testssl.sh data at ") for line in lines))

    def test_one_host_alone(self):
        """check-site.sh --handshakes: a line per Windows and kind of PC, in
        seconds, and below them each change to make, once."""
        check = os.path.join(HERE, "..", "..", "scripts", "check-site.sh")
        ca = os.path.join(self.folder, "ca.crt")
        for server, options, code, lines, failing in (
                ("jsse-tls1", [], 1, 14, 10), ("jsse-tls1", TLS1, 0, 14, 0),
                ("jsse-nov2", TLS1, 1, 14, 10), ("site-jsse", [], 0, 14, 0),
                ("plain", TLS1 + ["--ca", ca], 0, 14, 0),
                ("plain", TLS1 + ["--ca", self.other], 1, 14, 14),
                ("sha256", TLS1, 1, 16, 12), ("closed", [], 2, 0, 0)):
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
                table = [line for line in out if line.split(" | ")[0] in WINDOWS]
                self.assertEqual(out[:lines], table)
                verdicts = [line.rsplit(" | ", 1)[-1] for line in table]
                self.assertEqual(failing, sum(not v.startswith("runs") for v in verdicts))
                # Below the lines, what to change, each once; none where all runs
                # without a warning.
                below = out[lines:]
                self.assertEqual(len(below), len(set(below)))
                self.assertTrue(all(line.startswith(("fix: ", "note: ")) for line in below))
                self.assertEqual(failing > 0 or any("(warning: " in v for v in verdicts),
                                 any(line.startswith("fix: ") for line in below))


if __name__ == "__main__":
    unittest.main()
