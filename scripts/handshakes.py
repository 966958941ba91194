#!/usr/bin/env python3
"""The TLS handshake of each Windows, tried at the HTTPS hosts of the site check.

The site check runs under Wine, whose TLS is not the PCs'. For each package
line of the check's table, every host its route reached over HTTPS ("HTTPS at
host:port, ...") is tried from this machine with gnutls-cli as that package's
Windows makes the handshake: its protocol, its cipher suites and no server
name; the certificate it is shown is then read as that Windows can read it
(signature, key, host name). The line's verdict says what fails and what to
change on the server; the summary and the exit code follow.

    handshakes.py --code N [--proxy HOST:PORT] [--tls1-turned-on] < TABLE

gnutls-cli because it still speaks TLS 1.0 with 3DES and RC4 and can leave
the server name out; Debian's OpenSSL has neither suite. Neither speaks
SSL 3.0 any more, so that is said, never passed.
"""
import argparse
import collections
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading

# What each Windows' own TLS (Schannel, reached through WinINet) offers, one
# row per Windows of the package table, each naming its sources: whether TLS
# 1.0 is on by default, the suites in GnuTLS's priority names (RSA key
# exchange, as the PCs' 128-bit suites have), whether it reads SHA-256
# signatures. None of them sends the server's name or uses an ECDSA key.
#
# Sources (Microsoft):
#   [IE7]  "HTTPS Security Improvements in Internet Explorer 7" (MSDN,
#          aa980989) and "TLS enabled by default in IE 7.0 and WinINet" (WNDP
#          blog, 2006-04-12): TLS 1.0 is on by default from Internet Explorer
#          7; before, users turn it on in Internet Options. Internet
#          Explorer 7 installs on Windows XP and Server 2003 only, so 98, Me,
#          NT 4.0 and 2000 (Internet Explorer 6 at most) speak SSL 3.0 unless
#          TLS 1.0 was turned on. Only Vista's Schannel sends TLS extensions,
#          the server name among them.
#   [AES]  "TLS/SSL Cryptographic Enhancements" (TechNet, cc766285): AES
#          suites are "not available in Windows 2000 Server or Windows Server
#          2003"; they and the ECC suites come with Vista. Before, Schannel's
#          128-bit suites are RC4 and 3DES ("TLS/SSL Tools and Settings",
#          TechNet cc776467, lists the ciphers of Windows Server 2003).
#   [SHA2] "SHA2 and Windows" (Windows PKI blog, 2010-09-30): SHA-256 from
#          Windows XP Service Pack 3; Windows Server 2003 SP2 only with
#          KB938397 / KB968730; none before.
OLD_SUITES = "+RSA:+3DES-CBC:+ARCFOUR-128:+SHA1:+MD5"
Row = collections.namedtuple("Row", "tls10_by_default suites sha256 sha256_note sources")
WINDOWS = {
    "Windows 98": Row(False, OLD_SUITES, False, "which Windows 98 cannot check",
                      "[IE7] [AES] [SHA2]"),
    "Windows Me": Row(False, OLD_SUITES, False, "which Windows Me cannot check",
                      "[IE7] [AES] [SHA2]"),
    "Windows NT 4.0 Workstation": Row(False, OLD_SUITES, False,
                                      "which Windows NT 4.0 cannot check", "[IE7] [AES] [SHA2]"),
    "Windows NT 4.0 Server": Row(False, OLD_SUITES, False, "which Windows NT 4.0 cannot check",
                                 "[IE7] [AES] [SHA2]"),
    "Windows NT 4.0 Terminal Server": Row(False, OLD_SUITES, False,
                                          "which Windows NT 4.0 cannot check",
                                          "[IE7] [AES] [SHA2]"),
    "Windows 2000": Row(False, OLD_SUITES, False, "which Windows 2000 cannot check",
                        "[IE7] [AES]: no AES in Windows 2000; [SHA2]"),
    # With Internet Explorer 7 or 8, which Windows Update offered; with
    # Internet Explorer 6 TLS 1.0 is off as on the older ones (the guide says so).
    "Windows XP": Row(True, OLD_SUITES, True, "", "[IE7] [AES] [SHA2]: from Service Pack 3"),
    "Windows Server 2003": Row(True, OLD_SUITES, False,
                               "which Windows Server 2003 checks only with update KB968730",
                               "[IE7] [AES]: AES only with an update; [SHA2]: KB938397, "
                               "KB968730"),
}
SUITE_NAMES = "RC4 and 3DES only"
TLS10 = "NONE:+VERS-TLS1.0:+COMP-NULL:+SIGN-ALL:"
# Any suite at TLS 1.0: tells "no protocol" from "no suite in common".
ANY_TLS10 = "NORMAL:-VERS-ALL:+VERS-TLS1.0:+3DES-CBC:+ARCFOUR-128:%COMPAT"
SECONDS = 20


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
            host, _, port = self.proxy.rpartition(":")
            upstream = socket.create_connection((host, int(port)), timeout=SECONDS)
            upstream.sendall(f"CONNECT {self.target} HTTP/1.1\r\nHost: {self.target}\r\n\r\n"
                             .encode("ascii"))
            answer = b""
            while b"\r\n\r\n" not in answer:
                piece = upstream.recv(4096)
                if not piece:
                    raise OSError("the proxy closed the connection")
                answer += piece
            if not re.match(rb"HTTP/1\.[01] 200", answer):
                raise OSError("the proxy refused the tunnel")
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


def judge_host(windows, host, port, proxy, folder):
    """What that Windows' handshake meets at host:port: findings, each with
    what to change on the server; none when it passes."""
    row = WINDOWS[windows]
    suites, sha256, sha256_note = row.suites, row.sha256, row.sha256_note
    done, error, chain = handshake(host, port, ANY_TLS10, False, proxy, folder)
    if not done and error == "no connection":
        return [f"no connection from this machine to try the handshake of {windows}"]
    if not done and "protocol version" in error.lower():
        return [f"no protocol that {windows} speaks (offer TLS 1.0 on this host)"]
    done, _, exact = handshake(host, port, TLS10 + suites, False, proxy, folder)
    shown = exact or chain or handshake(host, port, "NORMAL", False, proxy, folder)[2]
    findings = []
    if not done:
        if shown and "id-ecPublicKey" in certificate(shown[0])[1]:
            return [f"an ECDSA key, which {windows} cannot use (give this host an RSA key)"]
        findings.append(f"no cipher suite in common ({windows} offers {SUITE_NAMES}: offer "
                        "TLS_RSA_WITH_3DES_EDE_CBC_SHA on this host)")
    if shown and not is_for(shown[0], host):
        named = handshake(host, port, TLS10 + suites if done else ANY_TLS10, True, proxy,
                          folder)[2]
        if named and is_for(named[0], host):
            findings.append("the right certificate is shown only to a hello that names the host, "
                            f"and {windows} names none (make it this host's default "
                            "certificate)")
        else:
            findings.append("the certificate is for another host name")
    for pem in shown:
        signature, key, own = certificate(pem)
        if "id-ecPublicKey" in key:
            findings.append(f"an ECDSA key, which {windows} cannot use (give this host an RSA "
                            "key)")
        if not own and re.search(r"sha(256|384|512)", signature, re.I) and not sha256:
            findings.append(f"a certificate signed with {signature_name(signature)}, "
                            f"{sha256_note} (these PCs need a chain signed with SHA-1)")
    return sorted(set(findings), key=findings.index)


def signature_name(algorithm):
    m = re.search(r"sha(\d+)", algorithm, re.I)
    return f"SHA-{m.group(1)}" if m else algorithm


def judge_line(fields, proxy, tls1_on, cache, folder):
    """The package line with its verdict judged by its Windows' handshakes."""
    windows, route, verdict = fields[0], fields[2], fields[5]
    hosts = re.search(r", HTTPS at (.*?)( and more)?$", route)
    if windows not in WINDOWS or not hosts:
        return fields
    tls10_default = WINDOWS[windows].tls10_by_default
    found = []
    for entry in hosts.group(1).split(", "):
        host, _, port = entry.rpartition(":")
        key = (windows, entry)
        if key not in cache:
            cache[key] = judge_host(windows, host, int(port), proxy, folder)
        if cache[key]:
            found.append(f"https://{entry}: " + "; ".join(cache[key]))
    if hosts.group(2):
        found.append("more HTTPS hosts than the check could list, not tried")
    ssl3 = not tls10_default and not tls1_on
    if found:
        where = " where TLS 1.0 is turned on" if ssl3 else ""
        verdict = f'"unable to download"{where} ({"; ".join(found)})'
        if ssl3:
            verdict += f"; SSL 3.0, {windows}'s default, cannot be tried from this machine"
    elif ssl3 and verdict.startswith("runs"):
        verdict = (f"not known: {windows} speaks SSL 3.0 unless TLS 1.0 is turned on in its "
                   "Internet Options, and SSL 3.0 cannot be tried from this machine (TLS 1.0 "
                   "passes: turn it on by policy, then check with --tls1-turned-on)")
    return fields[:5] + [verdict]


def summary(lines, pinned, unsized):
    """The check's summary line, over the judged lines."""
    running = [f for f in lines if f[5].startswith("runs")]
    text = (f"summary: {len(running)} of {len(lines)} "
            f"{'pinned packages' if pinned else 'packages'} would run")
    failing = [f[0] for f in lines if not f[5].startswith("runs")]
    if failing:
        text += "; not on: " + ", ".join(failing)
    if unsized:
        text += f"; {unsized} came with no length (warning)"
    return text


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--code", type=int, required=True, help="the check's own exit code")
    parser.add_argument("--proxy")
    parser.add_argument("--tls1-turned-on", action="store_true")
    args = parser.parse_args()
    table = sys.stdin.read().splitlines()
    judged, out, cache, pinned, tried = [], [], {}, False, False
    with tempfile.TemporaryDirectory() as folder:
        for line in table:
            fields = line.split(" | ")
            if line.startswith("checking http"):
                pinned = line.endswith("), pinned release")
            if len(fields) == 6 and fields[0] in WINDOWS:
                tried = tried or ", HTTPS at " in fields[2]
                fields = judge_line(fields, args.proxy, args.tls1_turned_on, cache, folder)
                judged.append(fields)
                line = " | ".join(fields)
            elif line.startswith("summary: ") and judged:
                unsized = re.search(r"; (\d+) came with no length", line)
                line = summary(judged, pinned, int(unsized.group(1)) if unsized else 0)
                if tried:
                    out.append("handshakes: each HTTPS host above was tried from this machine "
                               "as the line's Windows makes it: TLS 1.0, its suites, no "
                               "server name")
            out.append(line)
    print("\n".join(out))
    if args.code not in (0, 1) or not judged:
        return args.code
    return 0 if all(f[5].startswith("runs") for f in judged) else 1


if __name__ == "__main__":
    sys.exit(main())
