#!/usr/bin/env python3
"""The TLS handshakes of each Windows' PCs, tried at the HTTPS hosts of the site check.

Wine's TLS is not the PCs'. Each HTTPS host of a package line's route ("HTTPS
at host:port, ...") is sent, byte for byte, each ClientHello that package's
Windows' PCs send (PCS below). They go on only where the server's first
flight is whole and agrees with their hello, and the chain it shows, in the
clear before any key is used, is one that Windows reads and, with --ca,
leads to a CA the PCs trust. Each line says for which PCs its verdict holds
and why; what to change follows the lines, each once.

    handshakes.py --code N [OPTION...] < TABLE    the check's table and exit code, judged
    handshakes.py --host HOST[:PORT] [OPTION...]  a line per Windows and PCs; exit code 0
                                                  when all run, 1 when not, 2: none tried
options: --proxy HOST:PORT, --tls1-turned-on [--ssl2-turned-off], --ca FILE (repeated)
The hellos are testssl.sh's client data, in Debian's place or PATCHER_TESTSSL_DATA.
"""
import argparse
import collections
import concurrent.futures
import functools
import os
import re
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time

# What each Windows' own TLS (Schannel, reached through WinINet) checks of a
# certificate signed with SHA-256 [SHA2]: nothing before XP, XP from Service
# Pack 3, Server 2003 only with a hotfix. None uses an ECDSA key.
SHA256 = {"Windows 98": "", "Windows Me": "", "Windows NT 4.0 Workstation": "",
          "Windows NT 4.0 Server": "", "Windows NT 4.0 Terminal Server": "",
          "Windows 2000": "", "Windows XP": "Service Pack 3", "Windows Server 2003": "KB968730"}
OLD, NEW = tuple(SHA256)[:6], tuple(SHA256)[6:]  # Internet Explorer 6 at most; 7 and 8 too

# Each ClientHello the PCs send: the recorded hello it is (testssl.sh's
# client data, a kept record of real clients) and what is changed in it,
# only where that Schannel or that setting differs; lengths made anew.
# Sources:
#   [IE7]  "HTTPS Security Improvements in Internet Explorer 7" (MSDN,
#          aa980989), "TLS enabled by default in IE 7.0 and WinINet" (WNDP
#          blog, 2006-04-12): from Internet Explorer 7, TLS 1.0 on and SSL
#          2.0 off; before, SSL 2.0 and 3.0 on, TLS 1.0 off. Internet
#          Explorer 7 installs on XP and Server 2003 only. Only Vista's
#          Schannel sends the server name.
#   [IE6]  SSL Labs' captures of Internet Explorer 6 on XP (ssllabs-scan
#          issue 89): "IE 6 by default (SSLv2 ClientHello with SSL 3
#          support)", "IE 6 with SSL 2 + SSL 3 + TLS 1.0 support (SSLv2
#          ClientHello)"; testssl.sh issue 660: "If IE has SSLv2 enabled it
#          sends a v2 hello packet with a v3+ version number". So with TLS
#          1.0 on, the recorded hello offering 3.1; with SSL 2.0 off too,
#          Schannel's TLS-format hello, as Internet Explorer 7 and 8 send it.
#   [AES]  "TLS/SSL Cryptographic Enhancements" (TechNet, cc766285): no AES
#          in Windows 2000 or Server 2003; "TLS/SSL Tools and Settings"
#          (cc776467): Schannel's suites before Vista are RC4, 3DES and DES,
#          as the recorded hellos offer.
#   [RI]   Bulletin MS10-049 (KB980436, August 2010): renegotiation
#          indication (RFC 5746) for "all supported editions of Windows XP
#          and Windows Server 2003", so XP with Service Pack 3 only (Service
#          Pack 2's support ended on 13 July 2010, Windows 2000's that month
#          too). Since, a TLS hello has renegotiation_info, an SSL 2.0-format
#          one the SCSV (0x00ff); before, neither.
#   [SHA2] "SHA2 and Windows" (Windows PKI blog, 2010-09-30): "Prior to
#          Windows XP Service Pack 3, there was no SHA2 functionality within
#          Windows XP"; Server 2003 SP2 only with KB938397 / KB968730.
#   [CA]   WinINet's ERROR_INTERNET_INVALID_CA (12045): a chain to no root
#          the PC trusts.
HELLOS = {
    "tls": ("IE 8 XP", ()),  # TLS 1.0, RC4/3DES/DES suites, renegotiation_info only [AES] [RI]
    "tls-bare": ("IE 8 XP", ("extensions",)),  # without the 2010 update: no extension [RI]
    "v2": ("IE 6 XP", ()),  # SSL 2.0 format offering SSL 3.0, with the SCSV [IE6] [RI]
    "v2-bare": ("IE 6 XP", ("scsv",)),
    "v2-tls": ("IE 6 XP", ("tls1",)),  # the same offering TLS 1.0 [IE6]
    "v2-tls-bare": ("IE 6 XP", ("scsv", "tls1")),
    # A hello of today (TLS 1.2, ECDSA and RSA suites), naming no host: the
    # chain a host shows where it refuses the PCs' hellos.
    "today": ("OpenSSL 1.0.2e", ("name",)),
}
# Which hello each Windows' PCs send, one row per kind of PC: as shipped,
# with TLS 1.0 turned on (--tls1-turned-on), and with SSL 2.0 turned off too
# (--ssl2-turned-off) [IE7] [IE6]; whether they have the 2010 update, which
# on Windows XP means Service Pack 3 [RI].
PCS = [
    (NEW, "Internet Explorer 7 or 8, with the 2010 update (MS10-049)", True, ("tls",) * 3),
    (NEW, "Internet Explorer 7 or 8, without the 2010 update", False, ("tls-bare",) * 3),
    (NEW, "Internet Explorer 6{1}, with the 2010 update (MS10-049)", True, ("v2", "v2-tls", "tls")),
    (NEW, "Internet Explorer 6{1}, without the 2010 update", False,
     ("v2-bare", "v2-tls-bare", "tls-bare")),
    (OLD, "{0}", False, ("v2-bare", "v2-tls-bare", "tls-bare")),
]
MODES = [("as shipped (SSL 3.0 only; TLS 1.0 off)", ""),
         ("TLS 1.0 turned on", " with TLS 1.0 turned on"),
         ("TLS 1.0 turned on, SSL 2.0 off", " with TLS 1.0 turned on and SSL 2.0 off")]
CLIENT_DATA = ("/etc/testssl/client-simulation.txt",
               "/usr/share/testssl/etc/client-simulation.txt")
SECONDS = 10
MAX_ANSWER = 256 * 1024  # a certificate chain is a few KiB; past this, no TLS server
SUITES = {0x03: "TLS_RSA_EXPORT_WITH_RC4_40_MD5", 0x04: "TLS_RSA_WITH_RC4_128_MD5",
          0x05: "TLS_RSA_WITH_RC4_128_SHA", 0x06: "TLS_RSA_EXPORT_WITH_RC2_CBC_40_MD5",
          0x09: "TLS_RSA_WITH_DES_CBC_SHA", 0x0A: "TLS_RSA_WITH_3DES_EDE_CBC_SHA",
          0x12: "TLS_DHE_DSS_WITH_DES_CBC_SHA", 0x13: "TLS_DHE_DSS_WITH_3DES_EDE_CBC_SHA",
          0x62: "TLS_RSA_EXPORT1024_WITH_DES_CBC_SHA",
          0x63: "TLS_DHE_DSS_EXPORT1024_WITH_DES_CBC_SHA",
          0x64: "TLS_RSA_EXPORT1024_WITH_RC4_56_SHA"}
# The PCs' suites whose server sends a ServerKeyExchange: always with DHE,
# with an export suite only for a key longer than the export's (RFC 2246 7.4.3).
DHE, EXPORT = (0x12, 0x13, 0x63), (0x03, 0x06, 0x62, 0x64)
ALERTS = {a.value: a.name[len("ALERT_DESCRIPTION_"):].lower() for a in ssl.AlertDescription}
MESSAGES = {2: "ServerHello", 11: "Certificate", 12: "ServerKeyExchange",
            13: "CertificateRequest", 14: "ServerHelloDone", 20: "Finished"}
# What a hello of today sends beyond the PCs': renegotiation_info, encrypt_then_mac
# and extended_master_secret, each empty.
TODAY_EXTENSIONS = [b"\xff\x01\x00\x01\x00", b"\x00\x16\x00\x00", b"\x00\x17\x00\x00"]
# What to change, by finding: each said once, below the lines.
FIXES = {
    "connect": "no connection: check from the users' network, through their proxy (--proxy)",
    "ssl3": "the PCs left as shipped speak SSL 3.0 only: offer it on the host, or better turn "
            "TLS 1.0 on in their Internet Options by policy and check with --tls1-turned-on",
    "poodle": "SSL 3.0 is broken (POODLE): turn TLS 1.0 on in the PCs' Internet Options by "
              "policy, then check with --tls1-turned-on",
    "sslv2": "Internet Explorer 6 sends its hello in the SSL 2.0 format while SSL 2.0 is on, its "
             "default: take such hellos on the host (Java: SSLv2Hello), or turn SSL 2.0 off "
             "in the PCs' Internet Options by policy and check with --ssl2-turned-off",
    "tls1": "offer TLS 1.0 on the host",
    "suites": "the PCs offer RC4 and 3DES only (AES came with Vista): offer "
              "TLS_RSA_WITH_3DES_EDE_CBC_SHA on the host",
    "shape": "the host must not require safe renegotiation or encrypt-then-MAC (GnuTLS: no "
             "%SAFE_RENEGOTIATION, no %FORCE_ETM): PCs without the 2010 update send no "
             "renegotiation_info, and none sends encrypt_then_mac",
    "drops": "a front before the host that takes those hellos (lighttpd's mod_gnutls drops them)",
    "offered": "the host must answer within what the hello offers, or the PCs end the handshake",
    "flight": "the host must send its whole first flight (ServerHello, Certificate, "
              "ServerHelloDone): its log says why it stops",
    "other": "the host speaks no TLS the PCs do: is it the HTTPS port?",
    "ecdsa": "no Windows before Vista uses ECDSA: give the host an RSA key",
    "sni": "no Windows before Vista names the host in its hello: make the right certificate "
           "the host's default, or give the service an address of its own",
    "name": "give the host a certificate for its own name",
    "sha256": "these PCs need a chain signed with SHA-1, from a CA of your own",
    "ca": "the CAs given with --ca are those the PCs trust: give the host a certificate from "
          "one of them, or give every CA your PCs trust",
}


Offer = collections.namedtuple("Offer", "version suites extensions")
# What a server answered a hello: how its first flight ended ("done" when
# whole, "alert", "closed", "silent", "out of order", "malformed", "sslv2",
# "garbled", "no connection"), the alert or message type that ended it, the
# handshake messages before, and its ServerHello's and Certificate's fields.
Answer = collections.namedtuple("Answer", "end detail flight version suite compression "
                                          "extensions chain")
Finding = collections.namedtuple("Finding", "text fix before_sp3", defaults=(False,))


def parse_hello(data):
    """The fields of a ClientHello record, SSL 2.0 format or TLS, every length
    checked against the bytes: (format, version, body fields)."""
    if len(data) > 2 and data[0] & 0x80:
        length = (data[0] & 0x7F) << 8 | data[1]
        body = data[2:]
        if len(body) != length or length < 9 or body[0] != 1:
            raise ValueError("not an SSL 2.0-format ClientHello")
        version, specs, sid, challenge = struct.unpack(">HHHH", body[1:9])
        if 9 + specs + sid + challenge != length or specs % 3:
            raise ValueError("SSL 2.0-format ClientHello with wrong lengths")
        cut = [body[9 + i:12 + i] for i in range(0, specs, 3)]
        return "sslv2", version, (cut, body[9 + specs:9 + specs + sid], body[9 + specs + sid:])
    if len(data) < 9 or data[0] != 0x16 or two_bytes(data[3:]) != len(data) - 5:
        raise ValueError("not a TLS record of its stated length")
    if data[5] != 1 or int.from_bytes(data[6:9], "big") != len(data) - 9:
        raise ValueError("not a ClientHello of its stated length")
    body = data[9:]
    at = field(body, 34, 1)[1]
    suites, at = field(body, at, 2)
    compression, at = field(body, at, 1)
    extensions = items(field(body, at, 2)[0], 2, 2) if at < len(body) else []
    if at < len(body) and field(body, at, 2)[1] != len(body):
        raise ValueError("ClientHello of wrong lengths")
    return "tls", two_bytes(body), (body[:field(body, 34, 1)[1]], [
        suites[i:i + 2] for i in range(0, len(suites), 2)], body[at - len(compression) - 1:at],
        extensions)


def field(data, at, width):
    """The length-prefixed field at `at` (its length in `width` bytes), and
    where it ends; an error where it runs past the end."""
    end = at + width + int.from_bytes(data[at:at + width], "big")
    if len(data) < at + width or end > len(data):
        raise ValueError("a length past the end")
    return data[at + width:end], end


def items(data, skip, width):
    """The whole items of a list, each its `skip` bytes and a length-prefixed field."""
    out, at = [], 0
    while at < len(data):
        end = field(data, at + skip, width)[1]
        out.append(data[at:end])
        at = end
    return out


def two_bytes(data):
    return struct.unpack(">H", data[:2])[0]


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
    return b"\x16" + struct.pack(">HH", min(version, 0x0301), len(handshake)) + handshake


def derive(data, changes):
    """A recorded hello with what that Schannel or setting changes: no
    extensions (or no server name), no renegotiation SCSV, TLS 1.0 offered."""
    form, version, fields = parse_hello(data)
    for change in changes:
        if change in ("extensions", "name") and form == "tls":
            fields = fields[:3] + ([e for e in fields[3] if change == "name" and e[:2] != b"\0\0"],)
        elif change == "scsv" and form == "sslv2":
            fields = ([s for s in fields[0] if s != b"\x00\x00\xff"], *fields[1:])
        elif change == "tls1" and form == "sslv2" and version == 0x0300:
            version = 0x0301
        else:
            raise ValueError(f"nothing to change ({change}) in this hello")
    derived = build_hello(form, version, fields)
    if not changes and derived != data:
        raise ValueError("the recorded hello does not read back as recorded")
    return derived


def in_tls_format(data, extensions=None):
    """The same offer in a TLS-format hello (RFC 2246 E.1: the challenge
    is the random's end), with those extensions instead of its own; without
    the renegotiation SCSV where it sends renegotiation_info."""
    form, version, fields = parse_hello(data)
    if form == "sslv2":
        specs, sid, challenge = fields
        head = struct.pack(">H", version) + challenge.rjust(32, b"\0")[-32:] + bytes([len(sid)])
        fields = (head + sid, [s[1:] for s in specs if s[0] == 0], b"\x01\x00", [])
    if extensions is not None:
        fields = (fields[0], [s for s in fields[1] if s != b"\x00\xff"], fields[2], extensions)
    return build_hello("tls", version, fields)


def naming(data, host):
    """A TLS hello that names the host too (server_name, RFC 6066)."""
    name = host.encode("ascii", "replace")
    return in_tls_format(data, [struct.pack(">HHHBH", 0, len(name) + 5, len(name) + 3, 0,
                                            len(name)) + name, *parse_hello(data)[2][3]])


def offer(data):
    """What a hello offers: version, suites (as numbers), extension types."""
    form, version, fields = parse_hello(data)
    suites = [s[1:] for s in fields[0] if s[0] == 0] if form == "sslv2" else fields[1]
    return Offer(version, {int.from_bytes(s, "big") for s in suites},
                 {int.from_bytes(e[:2], "big") for e in fields[3]} if form == "tls" else set())


def hellos():
    """Each hello by its key, made from testssl.sh's records and proven to
    parse (and, where unchanged, to read back byte for byte)."""
    paths = [p for p in [os.environ.get("PATCHER_TESTSSL_DATA")] if p] or CLIENT_DATA
    path = next((p for p in paths if os.path.isfile(p)), None)
    if not path:
        raise OSError(f"no testssl.sh data at {' or '.join(paths)}: the PCs' recorded hellos come "
                      "with it (apt-get install testssl.sh, or scripts/install-deps.sh)")
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    names = re.findall(r'^\s*names\+=\("(.*)"\)', text, re.M)
    hexes = re.findall(r'^\s*handshakebytes\+=\("([0-9a-fA-F]*)"\)', text, re.M)
    recorded, made = dict(zip(names, hexes)), {}
    for key, (name, changes) in HELLOS.items():
        try:
            made[key] = derive(bytes.fromhex(recorded[name]), changes)
        except (KeyError, ValueError, IndexError, struct.error) as e:
            raise OSError(f"{path}: no hello \"{name}\" as recorded ({e})") from e
    return made


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


def due(flight, suite):
    """The handshake messages that may come next in a server's first flight."""
    return {(): (2,), (2,): (11,), (12,): (13, 14), (13,): (14,)}.get(tuple(flight[-1:])) or (
        (12,) if suite in DHE else (12, 13, 14) if suite in EXPORT else (13, 14))


def take(kind, body, got):
    """Reads one message of the flight into got: False where its lengths are wrong."""
    try:
        if kind == 2:
            at = field(body, 34, 1)[1]
            extensions, end = field(body, at + 3, 2) if at + 3 < len(body) else (b"", at + 3)
            got.update(version=two_bytes(body), suite=two_bytes(body[at:]),
                       compression=body[at + 2], extensions=tuple(
                           two_bytes(e) for e in items(extensions, 2, 2)))
        elif kind == 11:
            chain, end = field(body, 0, 3)
            got["chain"] = tuple(ssl.DER_cert_to_PEM_cert(der[3:]) for der in items(chain, 0, 3))
        else:
            end = len(body) if kind != 14 else 0  # a ServerHelloDone is empty
        got["flight"] += (kind,)
        return end == len(body)
    except (IndexError, ValueError, struct.error):
        return False


def replay(data, host, port, proxy):
    """Sends one hello and reads the server's first flight, message by
    message, up to its ServerHelloDone or whatever comes instead."""
    got = dict(flight=(), version=0, suite=0, compression=0, extensions=(), chain=())

    def end(kind, detail=0):
        return Answer(kind, detail, **got)
    try:
        s = connect(host, port, proxy)
    except OSError:
        return end("no connection")
    deadline, buffer, messages = time.monotonic() + SECONDS, b"", b""
    with s:
        try:
            s.sendall(data)
            while True:
                while len(buffer) >= 5:
                    if buffer[0] & 0x80 and not got["flight"]:
                        return end("sslv2")
                    kind, length = buffer[0], two_bytes(buffer[3:])
                    if kind not in (0x15, 0x16) or buffer[1] != 3 or length > 18432:
                        return end("garbled")
                    if len(buffer) < 5 + length:
                        break
                    record, buffer = buffer[5:5 + length], buffer[5 + length:]
                    if kind == 0x15:
                        return end("alert", record[1] if len(record) > 1 else 0)
                    messages += record
                    while len(messages) >= 4 + int.from_bytes(messages[1:4], "big"):  # whole
                        body, at = field(messages, 1, 3)
                        kind, messages = messages[0], messages[at:]
                        if kind not in due(got["flight"], got["suite"]):
                            return end("out of order", kind)
                        if not take(kind, body, got):
                            return end("malformed", kind)
                        if kind == 14:
                            return end("done")
                if len(buffer) + len(messages) > MAX_ANSWER:
                    return end("garbled")
                left = deadline - time.monotonic()
                if left <= 0:
                    return end("silent")
                s.settimeout(left)
                piece = s.recv(16384)
                if not piece:
                    return end("closed")
                buffer += piece
        except socket.timeout:
            return end("silent")
        except OSError:
            return end("closed")  # reset: as good as closed, for the PC


def openssl_x509(pem, *args):
    return subprocess.run(["openssl", "x509", "-noout", *args], input=pem, capture_output=True,
                          text=True, check=True).stdout


@functools.lru_cache(maxsize=None)
def certificate(pem):
    """(signature algorithm, key algorithm, self-signed) of one certificate."""
    text = openssl_x509(pem, "-text")
    signature, key, issuer, subject = (m.group(1).strip() if m else "" for m in (
        re.search(rf" {k}: (.*)", text) for k in ("Signature Algorithm", "Public Key Algorithm",
                                                   "Issuer", "Subject")))
    return signature, key, issuer == subject


def is_for(pem, host):
    check = "-checkip" if re.fullmatch(r"[0-9.]+", host) else "-checkhost"
    return "does match" in openssl_x509(pem, check, host)


def words(answer):
    """How a server ended a handshake, in words."""
    if answer.end == "alert":
        return f"alert {ALERTS.get(answer.detail, answer.detail)}"
    return {"closed": "closes the connection", "silent": f"stays silent for {SECONDS} s",
            "garbled": "answers with something that is not TLS", "sslv2": "answers in SSL 2.0",
            "out of order": f"sends {MESSAGES.get(answer.detail, f'message {answer.detail}')}",
            "malformed": f"sends a {MESSAGES.get(answer.detail, answer.detail)} of wrong "
                         "lengths"}[answer.end]


class Tries:
    """Each hello sent once per host, whichever lines ask; every hello a host
    may be sent goes at once, so that a silent host costs its seconds once.
    Holds the CAs given, as one bundle."""

    def __init__(self, hellos, mode, proxy, cas, folder):
        self.hellos, self.mode, self.proxy, self.folder = hellos, mode, proxy, folder
        self.sent, self.pool = {}, concurrent.futures.ThreadPoolExecutor(16)
        self.bundle = os.path.join(folder, "cas.pem") if cas else ""
        with open(self.bundle or os.devnull, "w", encoding="ascii") as out:
            for ca in cas:  # PEM or DER
                with open(ca, "rb") as f:
                    pem = f.read()
                out.write(pem.decode("ascii", "replace") if b"-----BEGIN" in pem else
                          ssl.DER_cert_to_PEM_cert(pem))

    def answer(self, data, entry, wait=True):
        if (data, entry) not in self.sent:
            host, _, port = entry.rpartition(":")
            self.sent[data, entry] = self.pool.submit(replay, data, host, int(port), self.proxy)
        return self.sent[data, entry].result() if wait else None

    def start(self, entry):
        """The PCs' hellos, each in the TLS format and with today's
        extensions, and the hello of today, with and without the host's name."""
        for key in {row[3][self.mode] for row in PCS}:
            tls = in_tls_format(self.hellos[key])
            for data in (self.hellos[key], tls, in_tls_format(tls, TODAY_EXTENSIONS)):
                self.answer(data, entry, False)
        self.answer(self.hellos["today"], entry, False)
        host = entry.rpartition(":")[0]
        if not re.fullmatch(r"[0-9.]+", host):
            self.answer(naming(self.hellos["today"], host), entry, False)

    def leads_to(self, chain):
        """Whether the chain leads to one of the CAs given, read as the old
        PCs read it: SHA-1 and all."""
        path = os.path.join(self.folder, "chain.pem")  # the leaf first: the one verified
        with open(path, "w", encoding="ascii") as f:
            f.write("".join(chain))
        return subprocess.run(["openssl", "verify", "-auth_level", "0", "-CAfile", self.bundle,
                               "-untrusted", path, path], capture_output=True).returncode == 0


def refusal(windows, data, answer, tries, entry):
    """Why a host refuses a hello before its ServerHello, told apart by the
    hellos that differ from it in one thing each."""
    how = words(answer)
    if data[0] & 0x80:
        data, answer = in_tls_format(data), tries.answer(in_tls_format(data), entry)
        if answer.flight:
            return Finding(f"the host takes no SSL 2.0-format hello ({how}), which Internet "
                           "Explorer 6 sends while SSL 2.0 is on", "sslv2")
        # The same offer in the TLS format refused as well: for another cause.
    sent = offer(data)
    if sent.version == 0x0300:
        return Finding(f"SSL 3.0 refused ({how})", "ssl3")
    if answer.end == "alert" and answer.detail == 70:
        return Finding(f"no protocol that {windows} speaks ({how})", "tls1")
    shown = tries.answer(tries.hellos["today"], entry).chain
    if shown and "id-ecPublicKey" in certificate(shown[0])[1]:
        return Finding(f"an ECDSA key, which {windows} cannot use", "ecdsa")
    sends = "renegotiation_info only" if 0xFF01 in sent.extensions else "no extension"
    if answer.end == "closed":
        return Finding(f"the host drops the hello these PCs send, with {sends}, without an "
                       "answer", "drops")
    if tries.answer(in_tls_format(data, TODAY_EXTENSIONS), entry).flight:
        return Finding(f"the host refuses the hello these PCs send, with {sends} ({how}), yet "
                       "takes their suites in a hello of today", "shape")
    return Finding(f"no cipher suite in common ({how})", "suites")


def findings(windows, update, key, entry, tries):
    """What the PCs sending that hello meet at the host, each finding with
    what to change; none where they go on."""
    data = tries.hellos[key]
    answer = tries.answer(data, entry)
    if answer.end == "no connection":
        return [Finding("no connection from this machine", "connect")]
    first = flight_finding(windows, data, answer, tries, entry)
    if first and first.fix == "ecdsa":
        return [first]  # no further to go with a key they cannot use
    shown = answer.chain or (answer.end != "silent" and
                             tries.answer(tries.hellos["today"], entry).chain)
    found = [first] * bool(first) + chain_findings(windows, update, shown, entry, tries)
    return sorted(set(found), key=found.index)


def flight_finding(windows, data, answer, tries, entry):
    """What ends the handshake in the server's first flight; None where it
    is whole and agrees with the hello."""
    sent = offer(data)
    stray = [e for e in answer.extensions if e not in sent.extensions | (
        {0xFF01} if 0xFF in sent.suites else set())]
    wrong = answer.flight and (
        f"protocol version {answer.version:#06x}" if not 0x0300 <= answer.version <= sent.version
        else f"cipher suite {SUITES.get(answer.suite, hex(answer.suite))}"
        if answer.suite not in sent.suites else
        f"compression method {answer.compression}" if answer.compression else
        f"TLS extension {stray[0]}" if stray else "")
    if wrong:
        return Finding(f"the host answers with {wrong}, which these PCs did not offer", "offered")
    if answer.flight and answer.end != "done" or answer.end in ("out of order", "malformed"):
        so_far = ", ".join(MESSAGES[t] for t in answer.flight)
        return Finding(f"the host {'sends ' + so_far + ', then ' if so_far else ''}"
                       f"{words(answer)} where its "
                       f"{' or '.join(MESSAGES[t] for t in due(answer.flight, answer.suite))} "
                       "was due", "flight")
    if answer.end in ("alert", "closed"):
        return refusal(windows, data, answer, tries, entry)
    return Finding(f"the host {words(answer)}", "other") if answer.end != "done" else None


def chain_findings(windows, update, shown, entry, tries):
    """What that Windows makes of the chain a host shows."""
    found, host = [], entry.rpartition(":")[0]
    if shown and not is_for(shown[0], host):
        named = not re.fullmatch(r"[0-9.]+", host) and tries.answer(
            naming(tries.hellos["today"], host), entry).chain
        if named and is_for(named[0], host):
            found.append(Finding("the right certificate is shown only to a hello that names the "
                                 f"host, which {windows} does not", "sni"))
        else:
            found.append(Finding("the certificate is for another host name", "name"))
    for pem in shown or ():
        signature, key, own = certificate(pem)
        sha = re.search(r"sha(256|384|512)", signature, re.I)
        if "id-ecPublicKey" in key:
            found.append(Finding(f"an ECDSA key, which {windows} cannot use", "ecdsa"))
        if own or not sha or SHA256[windows] == "Service Pack 3" and update:
            continue
        checks = {"": "cannot check", "Service Pack 3": "checks from Service Pack 3 only"}.get(
            SHA256[windows], f"checks only with update {SHA256[windows]}")
        found.append(Finding(f"a certificate signed with SHA-{sha.group(1)}, which {windows} "
                             f"{checks}", "sha256", SHA256[windows] == "Service Pack 3"))
    if shown and tries.bundle and not tries.leads_to(shown):
        found.append(Finding("its certificate leads to none of the CAs given with --ca (WinINet "
                             "error 12045, an unknown authority)", "ca"))
    return found


def verdicts(windows, entries, tries, fixes, named=True):
    """Each kind of PC of that Windows at those hosts: (its words, why it
    fails or "", the answers it had), Windows XP before Service Pack 3 apart
    where only those PCs fail."""
    out = []
    for windowses, pcs, update, keys in PCS:
        if windows not in windowses:
            continue
        pcs = pcs.format(*MODES[tries.mode])
        found = [(entry, findings(windows, update, keys[tries.mode], entry, tries))
                 for entry in entries]
        answers = [tries.answer(tries.hellos[keys[tries.mode]], entry) for entry in entries]
        every = [f for _, fs in found for f in fs]
        fixes.update(f.fix for f in every)
        why = "; ".join((f"https://{entry}: " if named else "") + "; ".join(f.text for f in fs)
                        for entry, fs in found if fs)
        if every and all(f.before_sp3 for f in every):
            out += [(pcs + ", before Service Pack 3", why, answers),
                    (pcs + ", Service Pack 3", "", answers)]
        else:
            out.append((pcs, why, answers))
    return out


def who(windows, pcs):
    """Those PCs of that Windows, in words: "on Windows XP with ..."."""
    return f"on {windows} " + " and ".join(
        "with " + p if p.startswith(("Internet", "TLS")) else p for p in pcs)


def judge_line(fields, tries, fixes):
    """The package line with its verdict judged by its Windows' hellos."""
    entries, more = hosts(fields)
    if not entries:
        return fields
    windows, verdict = fields[0], fields[5]
    failing, running, ssl3 = collections.defaultdict(list), [], []
    for pcs, why, answers in verdicts(windows, entries, tries, fixes):
        if more:
            why += ("; " if why else "") + "more HTTPS hosts than the check could list, not tried"
        if why:
            failing[why].append(pcs)
        else:
            running.append(pcs)
            ssl3 += [pcs] if any(a.version == 0x0300 for a in answers) else []
    if not failing:
        if ssl3 and verdict.startswith("runs"):
            fixes.add("poodle")
            verdict += f" (warning: {who(windows, ssl3)} only over SSL 3.0)"
        return fields[:5] + [verdict]
    if len(failing) == 1 and not running:
        return fields[:5] + [f'"unable to download" ({next(iter(failing))})']
    verdict = '"unable to download" ' + "; ".join(f"{who(windows, pcs)} ({why})"
                                                  for why, pcs in failing.items())
    return fields[:5] + [verdict + (f"; runs {who(windows, running)}" if running else "")]


def host_lines(entry, tries):
    """--host: one line per Windows and kind of PC, the verdict last, and
    what to change below; with the exit code."""
    lines, fixes, code, answered = [], set(), 0, False
    tries.start(entry)
    for windows in SHA256:
        for pcs, why, (answer,) in verdicts(windows, [entry], tries, fixes, named=False):
            answered = answered or answer.end != "no connection"
            if why:
                code, verdict = 1, "unable to download: " + why
            else:
                verdict = (f"runs ({'SSL 3.0' if answer.version == 0x0300 else 'TLS 1.0'}, "
                           f"{SUITES.get(answer.suite, hex(answer.suite))})")
                if answer.version == 0x0300:
                    fixes.add("poodle")
                    verdict += " (warning: only over SSL 3.0)"
            lines.append(f"{windows} | {pcs} | {verdict}")
    tries.pool.shutdown(wait=False, cancel_futures=True)
    if not answered:
        return [], 2
    notes = [] if tries.bundle else ["note: no --ca given: the chains were not checked against "
                                     "the CAs your PCs trust, which must hold each host's root"]
    return lines + [f"fix: {FIXES[k]}" for k in FIXES if k in fixes] + notes, code


def summary(line, judged):
    """The check's summary line, its count and the Windows it names made to
    agree with the judged lines; the rest as the check wrote it."""
    m = re.fullmatch(r"summary: \d+( of \d+ .*? would run)(?:; not on: [^;]*)?(.*)", line)
    if not m:
        return line
    # Each named as the check names them: "Windows XP (DEU)" for a package not in English.
    failing = [f[0] + "".join(f" ({c})" for c in re.findall(r"-([A-Z]{3})\.EXE$", f[1])
                              if c != "ENU") for f in judged if not f[5].startswith("runs")]
    return (f"summary: {len(judged) - len(failing)}{m.group(1)}" +
            (f"; not on: {', '.join(failing)}" if failing else "") + m.group(2))


def hosts(fields):
    """The HTTPS hosts of a package line's route, and whether it reached more."""
    m = len(fields) == 6 and fields[0] in SHA256 and re.search(r", HTTPS at (.*?)( and more)?$",
                                                              fields[2])
    return (m.group(1).split(", "), bool(m.group(2))) if m else ([], False)


def judge_table(table, code, options):
    """The check's table with each line judged, what to change and its
    summary made to agree, and the exit code. Where the handshakes cannot be
    tried, the table as it came, a line why, and an exit code that says the
    check is incomplete, or that a package would not run."""
    rows, said, tried = [line.split(" | ") for line in table], [], False
    try:
        if any(hosts(f)[0] for f in rows):
            with tempfile.TemporaryDirectory() as folder:
                tries, fixes = Tries(hellos(), *options, folder), set()
                for entry in {e for f in rows for e in hosts(f)[0]}:
                    tries.start(entry)
                rows = [judge_line(f, tries, fixes) for f in rows]
                tries.pool.shutdown(wait=False, cancel_futures=True)
            said, tried = ["handshakes: each HTTPS host above was sent the hellos of the line's "
                           "Windows, as its PCs send them, and judged by its answer"] + [
                f"handshakes: fix: {FIXES[k]}" for k in FIXES if k in fixes], True
    except Exception as e:  # noqa: BLE001 (whatever stops them, the table stands)
        rows = [line.split(" | ") for line in table]
        said, code = [f"handshakes: not tried, so the lines above say nothing of the PCs' own "
                      f"TLS: {e}"], 1 if code == 1 else 2
    judged = [f for f in rows if len(f) == 6 and f[0] in SHA256]
    out = []
    for line in (" | ".join(f) for f in rows):
        if line.startswith("summary: "):
            out, said = out + said, []
            line = summary(line, judged) if tried else line
        out.append(line)
    print("\n".join(out + said))
    if code != 0 or not tried:
        return code
    return 0 if all(f[5].startswith("runs") for f in judged) else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--code", type=int, help="the check's own exit code, its table on stdin")
    parser.add_argument("--host", help="HOST[:PORT] to try alone (port 443 unless given)")
    parser.add_argument("--proxy")
    parser.add_argument("--tls1-turned-on", action="store_true")
    parser.add_argument("--ssl2-turned-off", action="store_true")
    parser.add_argument("--ca", action="append", default=[], help="a CA the PCs trust")
    args = parser.parse_args()
    if (args.code is None) == (args.host is None):
        parser.error("give --code (with the check's table) or --host")
    if args.ssl2_turned_off and not args.tls1_turned_on:
        parser.error("--ssl2-turned-off goes with --tls1-turned-on")
    options = (args.tls1_turned_on + args.ssl2_turned_off, args.proxy, args.ca)
    if args.code is not None:
        return judge_table(sys.stdin.read().splitlines(), args.code, options)
    entry = args.host if re.search(r":\d+$", args.host) else args.host + ":443"
    try:
        with tempfile.TemporaryDirectory() as folder:
            lines, code = host_lines(entry, Tries(hellos(), *options, folder))
    except OSError as e:
        print(f"handshakes: {e}", file=sys.stderr)
        return 2
    print("\n".join(lines) if lines else f"handshakes: no connection to {entry}: nothing was "
          "tried", file=sys.stdout if lines else sys.stderr)
    return code


if __name__ == "__main__":
    sys.exit(main())
