#!/usr/bin/env python3
"""The TLS handshakes of each Windows' PCs, tried at the HTTPS hosts of the site check.

The site check runs under Wine, whose TLS is not the PCs'. For each package
line of the check's table, every host its route reached over HTTPS ("HTTPS at
host:port, ...") is sent, byte for byte, each ClientHello that package's
Windows sends (HELLOS below), and the server's answer decides: the version
and cipher suite it picks (which must be ones the hello offered, or the PC
aborts), or its alert, or its silence. The certificate chain it shows, in
the clear before any key is used, is read as that Windows can read it
(signature, key, host name). The line's verdict says for which PCs it holds,
what fails and what to change on the server; the summary and the exit code
follow.

    handshakes.py --code N [--proxy HOST:PORT] [--tls1-turned-on] < TABLE
    handshakes.py --host HOST[:PORT] [--proxy HOST:PORT] [--tls1-turned-on]

With --host it tries that one host alone: one line per Windows and hello,
the verdict last; exit code 0 when every line runs, 1 when one does not, 2
when nothing could be tried.
"""
import argparse
import base64
import collections
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

# What each Windows' own TLS (Schannel, reached through WinINet) can read,
# one row per Windows of the package table: SHA-256 signatures or not. None
# of them uses an ECDSA key. What each sends is HELLOS below.
Row = collections.namedtuple("Row", "sha256 sha256_note")
WINDOWS = {
    "Windows 98": Row(False, "which Windows 98 cannot check"),
    "Windows Me": Row(False, "which Windows Me cannot check"),
    "Windows NT 4.0 Workstation": Row(False, "which Windows NT 4.0 cannot check"),
    "Windows NT 4.0 Server": Row(False, "which Windows NT 4.0 cannot check"),
    "Windows NT 4.0 Terminal Server": Row(False, "which Windows NT 4.0 cannot check"),
    "Windows 2000": Row(False, "which Windows 2000 cannot check"),
    "Windows XP": Row(True, ""),  # from Service Pack 3 [SHA2]
    "Windows Server 2003": Row(False, "which Windows Server 2003 checks only with update "
                                      "KB968730"),
}
OLD = tuple(WINDOWS)[:6]   # Internet Explorer 6 at most, never the 2010 update
NEW = ("Windows XP", "Windows Server 2003")

# Each ClientHello the PCs send, one row per hello: the recorded hello it is
# (testssl.sh's client data, read from the installed package: a kept record
# of real clients) and what is taken away from it, which Windows send it as
# they ship and with TLS 1.0 turned on (--tls1-turned-on), and for which of
# their PCs. The derived hellos lack only what the older Schannel lacks; the
# lengths in their headers are made anew.
#
# Sources (Microsoft):
#   [IE7]  "HTTPS Security Improvements in Internet Explorer 7" (MSDN,
#          aa980989) and "TLS enabled by default in IE 7.0 and WinINet" (WNDP
#          blog, 2006-04-12): TLS 1.0 is on by default from Internet Explorer
#          7, and SSL 2.0 off; before, Internet Explorer 6 offers SSL 3.0 in
#          an SSL 2.0-format hello unless users turn TLS 1.0 on. Internet
#          Explorer 7 installs on Windows XP and Server 2003 only. Only
#          Vista's Schannel sends the server name.
#   [AES]  "TLS/SSL Cryptographic Enhancements" (TechNet, cc766285): no AES
#          in Windows 2000 or Server 2003; Schannel's suites before Vista are
#          RC4, 3DES and DES ("TLS/SSL Tools and Settings", TechNet cc776467,
#          lists those of Server 2003): the recorded hellos offer exactly so.
#   [RI]   Security bulletin MS10-049 (KB980436, August 2010): Schannel's
#          renegotiation indication (RFC 5746), for Windows XP SP3 and Server
#          2003 SP2 only: Windows 2000 had left support the month before,
#          98, Me and NT 4.0 years before. Since then Schannel sends the
#          renegotiation_info extension in a TLS hello, the SCSV cipher suite
#          (0x00ff) in an SSL 2.0-format one; before, neither.
#   [SHA2] "SHA2 and Windows" (Windows PKI blog, 2010-09-30): SHA-256 from
#          Windows XP Service Pack 3; Server 2003 SP2 only with KB938397 /
#          KB968730; none before.
Hello = collections.namedtuple("Hello", "recorded drop shipped turned_on pcs sources")
HELLOS = [
    # As recorded: TLS 1.0, RC4/3DES/DES suites, renegotiation_info only.
    Hello("IE 8 XP", None, NEW, NEW,
          {True: "Internet Explorer 7 or 8, with the 2010 update (MS10-049)",
           False: "with the 2010 update (MS10-049)"}, "[IE7] [AES] [RI]"),
    # Without the update: the same hello with no extension at all [RI].
    Hello("IE 8 XP", "extensions", NEW, OLD + NEW,
          {True: "Internet Explorer 7 or 8, without the 2010 update",
           False: "without the 2010 update", "old": "TLS 1.0 turned on"}, "[IE7] [AES] [RI]"),
    # As recorded: SSL 2.0 format, offering SSL 3.0, with the SCSV.
    Hello("IE 6 XP", None, NEW, (),
          {True: "Internet Explorer 6, with the 2010 update (MS10-049)"}, "[IE7] [RI]"),
    # Without the update: the same hello without the SCSV [RI].
    Hello("IE 6 XP", "scsv", OLD + NEW, (),
          {True: "Internet Explorer 6, without the 2010 update",
           "old": "as shipped (SSL 3.0 only; TLS 1.0 off)"}, "[IE7] [RI]"),
]
CLIENT_DATA = ("/etc/testssl/client-simulation.txt",
               "/usr/share/testssl/etc/client-simulation.txt")
SECONDS = 10
# A hello of today (gnutls-cli's) with the PCs' protocol and suites: where it
# passes and theirs is refused, the refusal is about the hello's shape.
TLS10_OLD_SUITES = "NONE:+VERS-TLS1.0:+COMP-NULL:+SIGN-ALL:+RSA:+3DES-CBC:+ARCFOUR-128:+SHA1:+MD5"
MAX_ANSWER = 256 * 1024  # a certificate chain is a few KiB; past this, no TLS server
SUITES = {0x03: "TLS_RSA_EXPORT_WITH_RC4_40_MD5", 0x04: "TLS_RSA_WITH_RC4_128_MD5",
          0x05: "TLS_RSA_WITH_RC4_128_SHA", 0x06: "TLS_RSA_EXPORT_WITH_RC2_CBC_40_MD5",
          0x09: "TLS_RSA_WITH_DES_CBC_SHA", 0x0A: "TLS_RSA_WITH_3DES_EDE_CBC_SHA",
          0x12: "TLS_DHE_DSS_WITH_DES_CBC_SHA", 0x13: "TLS_DHE_DSS_WITH_3DES_EDE_CBC_SHA",
          0x62: "TLS_RSA_EXPORT1024_WITH_DES_CBC_SHA",
          0x63: "TLS_DHE_DSS_EXPORT1024_WITH_DES_CBC_SHA",
          0x64: "TLS_RSA_EXPORT1024_WITH_RC4_56_SHA"}
ALERTS = {10: "unexpected_message", 20: "bad_record_mac", 40: "handshake_failure",
          47: "illegal_parameter", 50: "decode_error", 70: "protocol_version",
          71: "insufficient_security", 80: "internal_error", 112: "unrecognized_name"}
PROTOCOLS = {0x0300: "SSL 3.0", 0x0301: "TLS 1.0"}
POODLE = ("SSL 3.0 is broken (POODLE): TLS 1.0 turned on by policy is the better road, then "
          "check with --tls1-turned-on")


class BadHello(ValueError):
    pass


Offer = collections.namedtuple("Offer", "sslv2 version suites extensions")


def parse_hello(data):
    """The fields of a ClientHello record, SSL 2.0 format or TLS, every length
    checked against the bytes: (format, version, body fields)."""
    if len(data) > 2 and data[0] & 0x80:
        length = (data[0] & 0x7F) << 8 | data[1]
        body = data[2:]
        if len(body) != length or length < 9 or body[0] != 1:
            raise BadHello("not an SSL 2.0-format ClientHello")
        version, specs, sid, challenge = struct.unpack(">HHHH", body[1:9])
        if 9 + specs + sid + challenge != length or specs % 3:
            raise BadHello("SSL 2.0-format ClientHello with wrong lengths")
        cut = [body[9 + i:12 + i] for i in range(0, specs, 3)]
        return "sslv2", version, (cut, body[9 + specs:9 + specs + sid], body[9 + specs + sid:])
    if len(data) < 9 or data[0] != 0x16 or struct.unpack(">H", data[3:5])[0] != len(data) - 5:
        raise BadHello("not a TLS record of its stated length")
    if data[5] != 1 or int.from_bytes(data[6:9], "big") != len(data) - 9:
        raise BadHello("not a ClientHello of its stated length")
    body, at = data[9:], 34
    if len(body) < 35:
        raise BadHello("ClientHello cut short")
    at += 1 + body[34]
    suites_end = at + 2 + struct.unpack(">H", body[at:at + 2])[0]
    compression_end = suites_end + 1 + body[suites_end]
    suites = [body[i:i + 2] for i in range(at + 2, suites_end, 2)]
    extensions, at = [], compression_end
    if compression_end < len(body):
        at = compression_end + 2
        if at + struct.unpack(">H", body[compression_end:at])[0] != len(body):
            raise BadHello("ClientHello extensions of wrong length")
        while at < len(body):
            size = struct.unpack(">H", body[at + 2:at + 4])[0]
            extensions.append(body[at:at + 4 + size])
            at += 4 + size
    if compression_end > len(body) or at != len(body):
        raise BadHello("ClientHello of wrong lengths")
    version = struct.unpack(">H", body[:2])[0]
    return "tls", version, (body[:34 + 1 + body[34]], suites, body[suites_end:compression_end],
                            extensions)


def build_hello(form, version, fields):
    """The record again from parse_hello's fields, every length made anew."""
    if form == "sslv2":
        specs, sid, challenge = fields
        body = (b"\x01" + struct.pack(">HHHH", version, 3 * len(specs), len(sid), len(challenge))
                + b"".join(specs) + sid + challenge)
        return struct.pack(">H", 0x8000 | len(body)) + body
    head, suites, compression, extensions = fields
    body = head + struct.pack(">H", 2 * len(suites)) + b"".join(suites) + compression
    if extensions:
        joined = b"".join(extensions)
        body += struct.pack(">H", len(joined)) + joined
    handshake = b"\x01" + len(body).to_bytes(3, "big") + body
    return b"\x16" + struct.pack(">HH", 0x0301, len(handshake)) + handshake


def derive(data, drop):
    """A recorded hello less what an older Schannel lacks: its extensions, or
    the renegotiation SCSV."""
    form, version, fields = parse_hello(data)
    if drop == "extensions" and form == "tls":
        fields = fields[:3] + ([],)
    elif drop == "scsv" and form == "sslv2":
        fields = ([s for s in fields[0] if s != b"\x00\x00\xff"], *fields[1:])
    elif drop:
        raise BadHello(f"nothing to take away ({drop}) from this hello")
    derived = build_hello(form, version, fields)
    if drop is None and derived != data:
        raise BadHello("the recorded hello does not read back as recorded")
    return derived


def offer(data):
    """What a hello offers: version, suites (as numbers), extension types."""
    form, version, fields = parse_hello(data)
    if form == "sslv2":
        suites = {int.from_bytes(s[1:], "big") for s in fields[0] if s[0] == 0}
        return Offer(True, version, suites, set())
    return Offer(False, version, {int.from_bytes(s, "big") for s in fields[1]},
                 {int.from_bytes(e[:2], "big") for e in fields[3]})


def recorded_hellos():
    """The recorded hellos by name, from the installed testssl.sh data."""
    for path in CLIENT_DATA:
        if os.path.exists(path):
            break
    else:
        raise OSError("the old PCs' recorded hellos come with testssl.sh: install it "
                      "(apt-get install testssl.sh, or scripts/install-deps.sh)")
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    names = re.findall(r'^\s*names\+=\("(.*)"\)', text, re.M)
    hexes = re.findall(r'^\s*handshakebytes\+=\("([0-9a-fA-F]*)"\)', text, re.M)
    if len(names) != len(hexes):
        raise OSError(f"{path}: not one recorded hello per client")
    return dict(zip(names, (bytes.fromhex(h) for h in hexes)))


def hello_bytes(recorded):
    """Each row's hello, proven to parse (and, recorded, to read back byte for
    byte), or an error naming the row."""
    made = []
    for row in HELLOS:
        if row.recorded not in recorded:
            raise OSError(f"testssl.sh's data holds no hello \"{row.recorded}\"")
        try:
            made.append(derive(recorded[row.recorded], row.drop))
        except (BadHello, IndexError, struct.error) as e:
            raise OSError(f"testssl.sh's hello \"{row.recorded}\" does not parse: {e}") from e
    return made


def tried(windows, tls1_on):
    """The hellos that Windows' PCs send: (row index, for which PCs)."""
    out = []
    for i, row in enumerate(HELLOS):
        if windows in (row.turned_on if tls1_on else row.shipped):
            out.append((i, row.pcs["old"] if windows in OLD else row.pcs[not tls1_on]))
    return out


def connect(host, port, proxy):
    """A connection to host:port, directly or through the proxy's CONNECT
    tunnel as the PCs' own go; every read bounded."""
    if not proxy:
        return socket.create_connection((host, port), timeout=SECONDS)
    proxy_host, _, proxy_port = proxy.rpartition(":")
    upstream = socket.create_connection((proxy_host, int(proxy_port)), timeout=SECONDS)
    try:
        target = f"{host}:{port}"
        upstream.sendall(f"CONNECT {target} HTTP/1.1\r\nHost: {target}\r\n\r\n".encode("ascii"))
        answer = b""
        while b"\r\n\r\n" not in answer:
            piece = upstream.recv(1)  # byte by byte: what follows the header is the server's
            if not piece or len(answer) > 16384:
                raise OSError("the proxy closed the connection")
            answer += piece
        if not re.match(rb"HTTP/1\.[01] 200", answer):
            raise OSError("the proxy refused the tunnel")
        return upstream
    except OSError:
        upstream.close()
        raise


Answer = collections.namedtuple("Answer", "kind version suite compression extensions chain "
                                          "alert")


def replay(data, host, port, proxy):
    """Sends one hello and reads the server's answer up to its ServerHelloDone:
    kind "hello" (with version, suite, extensions, the chain's DER), "alert",
    "closed" (nothing), "sslv2", "garbled", "silent" or "no connection"."""
    none = dict(version=0, suite=0, compression=0, extensions=(), chain=(), alert=0)
    try:
        s = connect(host, port, proxy)
    except OSError:
        return Answer("no connection", **none)
    deadline, buffer, messages, hello, chain = time.monotonic() + SECONDS, b"", b"", None, []
    with s:
        try:
            s.sendall(data)
            while True:
                while len(buffer) >= 5:
                    if buffer[0] & 0x80 and buffer[0] not in range(0x14, 0x18):
                        return Answer("sslv2", **none)
                    kind, length = buffer[0], struct.unpack(">H", buffer[3:5])[0]
                    if kind not in (0x15, 0x16) or buffer[1] != 3 or length > 18432:
                        return Answer("garbled", **none)
                    if len(buffer) < 5 + length:
                        break
                    record, buffer = buffer[5:5 + length], buffer[5 + length:]
                    if kind == 0x15:
                        return Answer("alert", **{**none, "alert": record[1] if len(record) > 1
                                                  else 0})
                    messages += record
                    while len(messages) >= 4 and len(messages) >= 4 + int.from_bytes(
                            messages[1:4], "big"):
                        size = int.from_bytes(messages[1:4], "big")
                        kind, body, messages = messages[0], messages[4:4 + size], \
                            messages[4 + size:]
                        if kind == 2:
                            hello = server_hello(body)
                        elif kind == 11:
                            chain = certificates(body)
                        elif kind == 14:
                            return hello._replace(chain=chain) if hello else Answer(
                                "garbled", **none)
                    if hello and hello.kind == "garbled":
                        return hello
                left = deadline - time.monotonic()
                if left <= 0 or len(buffer) + len(messages) > MAX_ANSWER:
                    return Answer("silent", **none)
                s.settimeout(left)
                piece = s.recv(16384)
                if not piece:
                    break
                buffer += piece
        except socket.timeout:
            return Answer("silent", **none) if not hello else hello._replace(chain=chain)
        except OSError:
            pass
    # Closed (or reset) before the server said all: what it did say decides.
    return hello._replace(chain=chain) if hello else Answer("closed", **none)


def server_hello(body):
    """A ServerHello's version, suite, compression and extension types."""
    try:
        version, at = struct.unpack(">H", body[:2])[0], 35 + body[34]
        suite, compression = struct.unpack(">H", body[at:at + 2])[0], body[at + 2]
        extensions, at = [], at + 3
        if at < len(body):
            end = at + 2 + struct.unpack(">H", body[at:at + 2])[0]
            at += 2
            while at + 4 <= end:
                extensions.append(struct.unpack(">H", body[at:at + 2])[0])
                at += 4 + struct.unpack(">H", body[at + 2:at + 4])[0]
            if at != end or end != len(body):
                raise IndexError
        return Answer("hello", version, suite, compression, tuple(extensions), (), 0)
    except (IndexError, struct.error):
        return Answer("garbled", 0, 0, 0, (), (), 0)


def certificates(body):
    chain, at = [], 3
    while at + 3 <= len(body):
        size = int.from_bytes(body[at:at + 3], "big")
        chain.append(body[at + 3:at + 3 + size])
        at += 3 + size
    return [der_to_pem(der) for der in chain if der]


def der_to_pem(der):
    text = base64.encodebytes(der).decode("ascii").replace("\n", "")
    lines = [text[i:i + 64] for i in range(0, len(text), 64)]
    return "-----BEGIN CERTIFICATE-----\n" + "\n".join(lines) + "\n-----END CERTIFICATE-----\n"


def refusal(sent, answer):
    """Why the PC's handshake ends at this answer; "" when it completes."""
    if answer.kind == "hello":
        if not 0x0300 <= answer.version <= sent.version:
            return (f"the host answers with protocol version {answer.version:#06x}, which these "
                    "PCs did not offer (they end the handshake)")
        if answer.suite not in sent.suites or answer.compression:
            return (f"the host picks cipher suite {SUITES.get(answer.suite, hex(answer.suite))}"
                    ", which these PCs did not offer (they end the handshake)")
        allowed = sent.extensions | ({0xFF01} if 0xFF in sent.suites else set())
        stray = [e for e in answer.extensions if e not in allowed]
        if stray:
            return (f"the host answers with TLS extension {stray[0]}, which these PCs did not "
                    "send (they end the handshake)")
        return ""
    if answer.kind == "alert":
        return f"alert {ALERTS.get(answer.alert, answer.alert)}"
    return {"closed": "the host closes the connection without an answer",
            "silent": f"no answer within {SECONDS} s",
            "sslv2": "the host answers in SSL 2.0",
            "garbled": "the host answers with something that is not TLS",
            "no connection": "no connection"}[answer.kind]


class Tunnel:
    """A loopback port that reaches host:port through the proxy's CONNECT,
    as the PCs' own connections do."""

    def __init__(self, proxy, host, port):
        self.proxy, self.target = proxy, f"{host}:{port}"
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        client, _ = self.listener.accept()
        try:
            upstream = connect(*self.target.rsplit(":", 1), self.proxy)
            upstream.settimeout(None)
        except OSError:
            client.close()
            return
        for a, b in ((client, upstream), (upstream, client)):
            threading.Thread(target=relay, args=(a, b), daemon=True).start()


def relay(source, sink):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    for s in (source, sink):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def handshake(host, port, priority, sni, proxy, folder):
    """One handshake: (completed, what went wrong, the chain's PEM files)."""
    at_host, at_port = host, port
    if proxy:
        at_host, at_port = "127.0.0.1", Tunnel(proxy, host, port).port
    chain = os.path.join(folder, f"chain-{len(os.listdir(folder))}.pem")
    args = ["gnutls-cli", "--insecure", "--priority", priority, "--port", str(at_port),
            f"--save-cert={chain}"]
    args += [f"--sni-hostname={host}"] if sni else ["--disable-sni"]
    try:
        done = subprocess.run(args + [at_host], stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=SECONDS, check=False)
        output = done.stdout + done.stderr
    except subprocess.TimeoutExpired:
        return False, "no handshake within %d s" % SECONDS, []
    if "- Handshake was completed" in output:
        return True, "", split_chain(chain)
    error = re.search(r"\*\*\* (?:Received alert \[\d+\]: |Fatal error: )?(.*)", output)
    if re.search(r"Cannot connect|Could not connect|Connection refused", output):
        return False, "no connection", []
    return False, error.group(1).strip() if error else "the handshake failed", split_chain(chain)


def split_chain(path):
    try:
        with open(path, encoding="ascii") as f:
            text = f.read()
    except OSError:
        return []
    return re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----\n?", text, re.S)


def openssl_x509(pem, *args):
    return subprocess.run(["openssl", "x509", "-noout", *args], input=pem, capture_output=True,
                          text=True, check=False).stdout


def certificate(pem):
    """(signature algorithm, key algorithm, self-signed) of one certificate."""
    text = openssl_x509(pem, "-text")
    signature = re.search(r"Signature Algorithm: (\S+)", text)
    key = re.search(r"Public Key Algorithm: (\S+)", text)
    names = openssl_x509(pem, "-subject", "-issuer", "-nameopt", "RFC2253").splitlines()
    own = len(names) == 2 and names[0].split("=", 1)[-1] == names[1].split("=", 1)[-1]
    return (signature.group(1) if signature else "", key.group(1) if key else "", own)


def is_for(pem, host):
    check = "-checkip" if re.fullmatch(r"[0-9.]+", host) else "-checkhost"
    return "does match" in openssl_x509(pem, check, host)


def signature_name(algorithm):
    m = re.search(r"sha(\d+)", algorithm, re.I)
    return f"SHA-{m.group(1)}" if m else algorithm


def attempt(index, host, port, proxy, hellos, folder):
    """One hello at host:port: (what ends the handshake or "", its answer,
    the chain shown: the answer's own, or one fetched to explain a refusal)."""
    sent = offer(hellos[index])
    answer = replay(hellos[index], host, port, proxy)
    why = refusal(sent, answer)
    shown = list(answer.chain)
    if why and answer.kind not in ("no connection", "silent"):
        shown = shown or handshake(host, port, "NORMAL", False, proxy, folder)[2]
    return why, answer, shown


def findings(windows, index, result, host, port, proxy, folder):
    """What that hello of those PCs meets at host:port, each with what to
    change on the server; none when it completes."""
    why, answer, shown = result
    row, ssl3 = WINDOWS[windows], offer_version(index) == 0x0300
    found = []
    if why == "no connection":
        return [f"no connection from this machine to try the handshake of {windows}"]
    if why and ssl3:
        found.append(f"SSL 3.0 refused ({why}), and these PCs speak SSL 3.0 only: offer SSL 3.0 "
                     "on this host, or turn TLS 1.0 on in the PCs' Internet Options by policy "
                     "and check with --tls1-turned-on")
    elif why.startswith("alert protocol_version"):
        found.append(f"no protocol that {windows} speaks (offer TLS 1.0 on this host)")
    elif why.startswith("alert") and shown and "id-ecPublicKey" in certificate(shown[0])[1]:
        return [f"an ECDSA key, which {windows} cannot use (give this host an RSA key)"]
    elif why.startswith("alert") and handshake(host, port, TLS10_OLD_SUITES, False, proxy,
                                               folder)[0]:
        # Their suites pass in a hello of today: what the host wants is
        # in the hello's shape, which these PCs cannot change.
        found.append(f"the host refuses the hello these PCs send ({why}), with "
                     f"{'renegotiation_info only' if sent_extensions(index) else 'no extension'}"
                     ", yet takes their suites from a hello of today: it must not require "
                     "safe renegotiation or encrypt-then-MAC (GnuTLS: no %SAFE_RENEGOTIATION, "
                     "no %FORCE_ETM)")
    elif why.startswith("alert"):
        found.append(f"no cipher suite in common ({windows} offers RC4 and 3DES only: offer "
                     "TLS_RSA_WITH_3DES_EDE_CBC_SHA on this host)")
    elif why.startswith("the host closes") and not ssl3:
        found.append(f"the host drops the hello these PCs send, with "
                     f"{'renegotiation_info only' if sent_extensions(index) else 'no extension'}"
                     ", without an answer (as lighttpd's mod_gnutls does): put a front before "
                     "it that takes such hellos")
    elif why:
        found.append(why)
    if shown and not is_for(shown[0], host):
        named = handshake(host, port, "NORMAL", True, proxy, folder)[2]
        if named and is_for(named[0], host):
            found.append("the right certificate is shown only to a hello that names the host, "
                         f"and {windows} names none (make it this host's default certificate)")
        else:
            found.append("the certificate is for another host name")
    for pem in shown:
        signature, key, own = certificate(pem)
        if "id-ecPublicKey" in key:
            found.append(f"an ECDSA key, which {windows} cannot use (give this host an RSA key)")
        if not own and re.search(r"sha(256|384|512)", signature, re.I) and not row.sha256:
            found.append(f"a certificate signed with {signature_name(signature)}, "
                         f"{row.sha256_note} (these PCs need a chain signed with SHA-1)")
    return sorted(set(found), key=found.index)


def sent_extensions(index):
    return HELLOS[index].recorded == "IE 8 XP" and not HELLOS[index].drop


def offer_version(index):
    return 0x0300 if HELLOS[index].recorded == "IE 6 XP" else 0x0301


class Tries:
    """Each hello tried once per host, whichever lines ask."""

    def __init__(self, proxy, hellos, folder):
        self.proxy, self.hellos, self.folder, self.done = proxy, hellos, folder, {}

    def __call__(self, windows, index, entry):
        host, _, port = entry.rpartition(":")
        if (index, entry) not in self.done:
            self.done[index, entry] = attempt(index, host, int(port), self.proxy, self.hellos,
                                              self.folder)
        result = self.done[index, entry]
        key = (windows, index, entry)
        if key not in self.done:
            self.done[key] = findings(windows, index, result, host, int(port), self.proxy,
                                      self.folder)
        answer = result[1]
        over_ssl3 = answer.kind == "hello" and answer.version == 0x0300
        return self.done[key], over_ssl3, answer


def judge_line(fields, tls1_on, tries):
    """The package line with its verdict judged by its Windows' hellos."""
    windows, route, verdict = fields[0], fields[2], fields[5]
    hosts = re.search(r", HTTPS at (.*?)( and more)?$", route)
    if windows not in WINDOWS or not hosts:
        return fields
    failing, running, ssl3 = [], [], []
    for index, pcs in tried(windows, tls1_on):
        found = []
        for entry in hosts.group(1).split(", "):
            problems, over_ssl3, _ = tries(windows, index, entry)
            if problems:
                found.append(f"https://{entry}: " + "; ".join(problems))
            elif over_ssl3:
                ssl3.append(pcs)
        if hosts.group(2):
            found.append("more HTTPS hosts than the check could list, not tried")
        (failing if found else running).append((pcs, "; ".join(found)))
    if not failing:
        if ssl3 and verdict.startswith("runs"):
            verdict += f" (warning: {who(windows, ssl3)} only over SSL 3.0: {POODLE})"
        return fields[:5] + [verdict]
    if len(set(f for _, f in failing)) == 1 and not running:
        verdict = f'"unable to download" ({failing[0][1]})'
    else:
        verdict = '"unable to download" ' + "; ".join(
            f"{who(windows, [pcs])} ({found})" for pcs, found in failing)
        if running:
            verdict += f"; runs {who(windows, [pcs for pcs, _ in running])}"
    return fields[:5] + [verdict]


def who(windows, pcs):
    """Those PCs of that Windows, in words: "on Windows XP with ..."."""
    return f"on {windows} " + " and ".join(
        "with " + p if p.startswith(("Internet", "TLS")) else p for p in pcs)


def leads_to(chain, cas, folder):
    """Whether the chain a host shows leads to one of the CAs given (PEM or
    DER), read as the old PCs read it: SHA-1 and all."""
    bundle = os.path.join(folder, "cas.pem")
    if not os.path.exists(bundle):
        with open(bundle, "w", encoding="ascii") as out:
            for ca in cas:
                out.write(next((pem for pem in (subprocess.run(
                    ["openssl", "x509", "-inform", form, "-in", ca], capture_output=True,
                    text=True, check=False).stdout for form in ("PEM", "DER")) if pem), ""))
    leaf, rest = os.path.join(folder, "leaf.pem"), os.path.join(folder, "rest.pem")
    for path, pems in ((leaf, chain[:1]), (rest, chain[1:])):
        with open(path, "w", encoding="ascii") as f:
            f.write("".join(pems))
    untrusted = ["-untrusted", rest] if chain[1:] else []
    return subprocess.run(["openssl", "verify", "-auth_level", "0", "-CAfile", bundle,
                           *untrusted, leaf], capture_output=True, check=False).returncode == 0


def host_lines(entry, tls1_on, tries, cas=()):
    """--host: one line per Windows and hello, the verdict last. With CAs
    given, a chain that leads to none of them is warned of: the PCs must
    then trust its root of their own."""
    lines, running, answered = [], True, False
    for windows in WINDOWS:
        for index, pcs in tried(windows, tls1_on):
            problems, over_ssl3, answer = tries(windows, index, entry)
            answered = answered or answer.kind != "no connection"
            if problems:
                running = False
                verdict = "unable to download: " + "; ".join(problems)
            else:
                verdict = (f"runs ({PROTOCOLS.get(answer.version)}, "
                           f"{SUITES.get(answer.suite, hex(answer.suite))})")
                if over_ssl3:
                    verdict += f" (warning: {POODLE})"
                if cas and answer.chain and not leads_to(answer.chain, cas, tries.folder):
                    verdict += (" (warning: its certificate leads to no CA given with --ca; the "
                                "PCs must trust its root of their own)")
            lines.append(f"{windows} | {pcs} | {verdict}")
    return (lines, 0 if running else 1) if answered else ([], 2)


def named(fields):
    """The line's Windows, and the language of a package not in English, as
    the check's own summary names them: "Windows XP (DEU)"."""
    code = re.search(r"-([A-Z]{3})\.EXE$", fields[1])
    return fields[0] + (f" ({code.group(1)})" if code and code.group(1) != "ENU" else "")


def summary(lines, pinned, unsized):
    """The check's summary line, over the judged lines."""
    running = [f for f in lines if f[5].startswith("runs")]
    text = (f"summary: {len(running)} of {len(lines)} "
            f"{'pinned packages' if pinned else 'packages'} would run")
    failing = [named(f) for f in lines if not f[5].startswith("runs")]
    if failing:
        text += "; not on: " + ", ".join(failing)
    if unsized:
        text += f"; {unsized} came with no length (warning)"
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--code", type=int, help="the check's own exit code, its table on stdin")
    parser.add_argument("--host", help="HOST[:PORT] to try alone (port 443 unless given)")
    parser.add_argument("--proxy")
    parser.add_argument("--tls1-turned-on", action="store_true")
    parser.add_argument("--ca", action="append", default=[],
                        help="with --host: a CA the PCs trust (PEM or DER); may be repeated")
    args = parser.parse_args()
    if (args.code is None) == (args.host is None):
        parser.error("give --code (with the check's table) or --host")
    try:
        hellos = hello_bytes(recorded_hellos())
    except OSError as e:
        print(f"handshakes: {e}", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as folder:
        tries = Tries(args.proxy, hellos, folder)
        if args.host:
            entry = args.host if re.search(r":\d+$", args.host) else args.host + ":443"
            lines, code = host_lines(entry, args.tls1_turned_on, tries, args.ca)
            for line in lines:
                print(line)
            if code == 2:
                print(f"handshakes: no connection to {entry}: nothing was tried", file=sys.stderr)
            return code
        return judge_table(sys.stdin.read().splitlines(), args, tries)


def judge_table(table, args, tries):
    judged, out, pinned, tried_any = [], [], False, False
    for line in table:
        fields = line.split(" | ")
        if line.startswith("checking http"):
            pinned = line.endswith("), pinned release")
        if len(fields) == 6 and fields[0] in WINDOWS:
            tried_any = tried_any or ", HTTPS at " in fields[2]
            fields = judge_line(fields, args.tls1_turned_on, tries)
            judged.append(fields)
            line = " | ".join(fields)
        elif line.startswith("summary: ") and judged:
            unsized = re.search(r"; (\d+) came with no length", line)
            line = summary(judged, pinned, int(unsized.group(1)) if unsized else 0)
            if tried_any:
                out.append("handshakes: each HTTPS host above was sent the hellos of the line's "
                           "Windows, as its PCs send them, and judged by its answer")
        out.append(line)
    print("\n".join(out))
    if args.code not in (0, 1) or not judged:
        return args.code
    return 0 if all(f[5].startswith("runs") for f in judged) else 1


if __name__ == "__main__":
    sys.exit(main())
