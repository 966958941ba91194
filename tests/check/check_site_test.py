#!/usr/bin/env python3
"""The administrator's site check against the simulated site. One release
is made once (`release`), pinned to the stand-in package under the Windows
XP and Windows 98 names; each configuration then runs the check it holds
once, through scripts/check-site.sh or, as on a PC, alone in a Wine prefix
of its own, and compares its lines whole, its exit code, the requests the
site saw, and what the check left behind (nothing but itself).

    check_site_test.py --config CONFIG.json release    make the release
    check_site_test.py --config CONFIG.json NAME       one configuration
    check_site_test.py --list                          the configurations
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from run_scenario import (cache_failures, internet_cache, padded_bytes, site_control,  # noqa: E402
                          site_log)

XP, W98 = "WindowsXP-KB835732-x86-ENU.EXE", "828028USA8.EXE"
XP_DEU = XP.replace("-ENU.", "-DEU.")
PREFIX = "/patches/KB835732/"
TIME = r"\d+\.\d s, \d+ KB/s"
RUNS = "runs (SHA-256 as pinned)"
WHOLE = "150000 bytes, length announced"


def row(windows, package, route, size, verdict):
    """A table line, with the time and rate left open."""
    return (re.escape(f"{windows} | {package} | {route} | ") + size + " \\| " + TIME +
            re.escape(" | ") + verdict)


def unable(reason):
    return re.escape(f'"unable to download" ({reason})')


# The packages the release does not pin, after the summary.
NOT_IN = ("not in this release (the program refuses any download there): Windows NT 4.0 "
          "Workstation, Windows NT 4.0 Server, Windows NT 4.0 Terminal Server, Windows Me, "
          "Windows 2000, Windows Server 2003")


def this_pc(description, windows, package, language=" in English (ENU)"):
    return (f"this PC runs {description}{language} and gets {package}: read the line "
            f'"{windows} | {package}" below')


# check-site.sh runs the check as Windows XP.
XP_PC = this_pc("Windows XP  Service Pack 3 Ver 5.1 (2600)", "Windows XP", XP)


def both(route, size, verdict):
    return {W98: row("Windows 98", W98, route, size, verdict),
            XP: row("Windows XP", XP, route, size, verdict)}


SUITES = "no cipher suite in common (alert handshake_failure)"


def xp_signin(tls, route, size, finding):
    """The Windows XP package through a sign-in service whose TLS Windows XP
    cannot speak, TLS 1.0 turned on (SSL 3.0 fails there too, each hello
    with words of its own: site_check_handshakes)."""
    return {"site": {"name": "signin", "package": "{standin}", "tls": tls},
            "args": ["--ca", "{ca}", "--only", XP, "--tls1-turned-on"], "code": 1,
            "lines": {XP: row("Windows XP", XP, route + ", 0 redirects, HTTPS at localhost:48443",
                              size, unable("https://localhost:48443: " + finding))},
            "summary": "summary: 0 of 1 pinned packages would run; not on: Windows XP"}


CERTIFICATE = (r'"unable to download" \(the certificate of https://localhost:48444 is '
               r'(not from a CA the PCs trust|refused: .*) \(WinINet error 120(45|57)\)\)')

# Each configuration: what the site answers ({pinned}, {missing}, {changed}:
# package folders; {standin}: the pinned file), the check's arguments after
# the release, and what must show.
CONFIGURATIONS = {
    # Made from release.sh's own flags, which give the very same release.
    # Whatever the sign-in service speaks, the route does not reach it.
    "direct": {
        "site": {"name": "folder", "dir": "{pinned}", "tls": "modern"}, "flags": True,
        "code": 0, "lines": both("direct, 0 redirects", re.escape(WHOLE), re.escape(RUNS)),
        "summary": "summary: 2 of 2 pinned packages would run", "more": [NOT_IN],
        "requests": [("patch", PREFIX + W98, ""), ("patch", PREFIX + XP, "")]},
    # The ZIP's own check, alone in a Wine prefix of its own, as on a PC of
    # each Windows: it names that Windows and its package first.
    "pc_win98": {
        "site": {"name": "folder", "dir": "{pinned}"}, "pc": "win98", "code": 0,
        # Wine's Windows 98 keeps no language of its resources: none is named.
        "first": this_pc("Windows 98   A  Ver 4.10 (67766446)", "Windows 98", W98, ""),
        "lines": both("direct, 0 redirects", re.escape(WHOLE), re.escape(RUNS)),
        "summary": "summary: 2 of 2 pinned packages would run", "more": [NOT_IN],
        "requests": [("patch", PREFIX + W98, ""), ("patch", PREFIX + XP, "")]},
    "pc_winxp": {
        "site": {"name": "folder", "dir": "{pinned}"}, "pc": "winxp", "code": 0, "first": XP_PC,
        "lines": both("direct, 0 redirects", re.escape(WHOLE), re.escape(RUNS)),
        "summary": "summary: 2 of 2 pinned packages would run", "more": [NOT_IN],
        "requests": [("patch", PREFIX + W98, ""), ("patch", PREFIX + XP, "")]},
    # A Windows XP installed in German, and a release of English packages
    # only: its package will refuse to install there.
    "pc_winxp_german": {
        "site": {"name": "folder", "dir": "{pinned}"}, "pc": "winxp", "code": 1,
        "env": {"PATCHER_WINE_LOCALE": "de_DE.UTF-8"},
        "first": this_pc("Windows XP  Service Pack 3 Ver 5.1 (2600)", "Windows XP", XP,
                         " in German (DEU)") +
        f"; {XP} is the English package, which refuses to install on a Windows in another "
        f"language: this release holds no {XP_DEU} (put it in the package folder, publish it "
        "and release again)",
        "lines": both("direct, 0 redirects", re.escape(WHOLE), re.escape(RUNS)),
        "summary": "summary: 2 of 2 pinned packages would run", "more": [NOT_IN]},
    # A release holding the German Windows XP package too: a line of its own.
    "languages": {
        "site": {"name": "folder", "dir": "{languages}"}, "flags": "{languages}", "code": 0,
        "lines": dict(both("direct, 0 redirects", re.escape(WHOLE), re.escape(RUNS)),
                      **{XP_DEU: row("Windows XP", XP_DEU, "direct, 0 redirects",
                                     re.escape(WHOLE), re.escape(RUNS))}),
        "summary": "summary: 3 of 3 pinned packages would run",
        "requests": [("patch", PREFIX + W98, ""), ("patch", PREFIX + XP, ""),
                     ("patch", PREFIX + XP_DEU, "")]},
    # Behind the Java front (SSL 3.0 and TLS 1.0, RC4 and 3DES), with TLS 1.0
    # turned on in the PCs' Internet Options: every hello of 98 and XP runs.
    "signin_https": {
        "site": {"name": "signin", "package": "{standin}", "tls": "jsse"},
        "args": ["--ca", "{ca}", "--tls1-turned-on"], "code": 0,
        "lines": both("sign-in pages (2 follow-up fetches), 0 redirects, HTTPS at "
                      "localhost:48443", re.escape(WHOLE), re.escape(RUNS)),
        # Each package comes back under its own name, with its ticket.
        "requests": [("patch", PREFIX + W98, ""), ("signin", "/login/", "RT=.*"),
                     ("patch", PREFIX + W98, "ticket=.*"), ("patch", PREFIX + XP, ""),
                     ("signin", "/login/", "RT=.*"), ("patch", PREFIX + XP, "ticket=.*")]},
    # The folder holds the Windows 98 package as 828028usa8.exe.
    "missing": {
        "site": {"name": "folder", "dir": "{missing}"}, "code": 1,
        "lines": {W98: row("Windows 98", W98, "direct, 0 redirects",
                           r"\d+ bytes, length announced",
                           unable("error page: HTTP 404, no file under this exact name "
                                  "(case included)")),
                  XP: row("Windows XP", XP, "direct, 0 redirects", re.escape(WHOLE),
                          re.escape(RUNS))},
        "summary": "summary: 1 of 2 pinned packages would run; not on: Windows 98"},
    "wrong_package": {
        "site": {"name": "folder", "dir": "{changed}"}, "code": 1,
        "lines": {W98: row("Windows 98", W98, "direct, 0 redirects", re.escape(WHOLE),
                           re.escape(RUNS)),
                  XP: row("Windows XP", XP, "direct, 0 redirects", re.escape(WHOLE),
                          re.escape("refused (SHA-256 found {changed_digest}, pinned "
                                    "{pinned_digest})"))},
        "summary": "summary: 1 of 2 pinned packages would run; not on: Windows XP"},
    "chunked": {
        "site": {"name": "chunked", "package": "{standin}"}, "code": 0,
        "lines": both("direct, 0 redirects",
                      re.escape("150000 bytes, NO LENGTH announced (warning: only the pin would "
                                "catch a cut)"), re.escape(RUNS)),
        "summary": "summary: 2 of 2 pinned packages would run; 2 came with no length (warning)"},
    # The Windows 98 package only: the Windows XP the check runs as is not
    # checked, and its first line says so.
    "redirect_loop": {
        "site": {"name": "redirect-self"}, "args": ["--only", W98], "code": 1,
        "first": XP_PC.split(": read")[0] + ": not checked in this run",
        "lines": {W98: row("Windows 98", W98, "direct, 20 redirects", "no answer",
                           unable("redirect loop: given up after 20 redirects"))},
        "summary": "summary: 0 of 1 pinned packages would run; not on: Windows 98"},
    # The patch server sends the users to a sign-in service whose CA the
    # prefix does not hold.
    "untrusted_signin": {
        "site": {"name": "signin-redirect", "via": "untrusted", "package": "{standin}",
                 "tls": "jsse"},
        "code": 1, "lines": both("direct, 1 redirect, HTTPS at localhost:48444", "no answer",
                                 CERTIFICATE)},
    # Sign-in services Windows XP cannot reach, though Wine (TLS 1.0 at most,
    # but with AES and the server's name) may: the line names the cause.
    "signin_tls12_only": xp_signin("modern", "sign-in pages (1 follow-up fetch)", "no answer",
                                   "no protocol that Windows XP speaks (alert protocol_version)"),
    "signin_aes_only": xp_signin("", "sign-in pages (2 follow-up fetches)", re.escape(WHOLE),
                                 SUITES),
    "signin_sni_only": xp_signin("sni", "sign-in pages (2 follow-up fetches)", re.escape(WHOLE),
                                 SUITES + "; the right certificate is shown only to a hello that "
                                 "names the host, which Windows XP does not"),
    # Where the handshakes cannot be tried (no testssl.sh data), the table
    # stands, one line says why, and the check is not said to have passed.
    "handshakes_not_tried": {
        "site": {"name": "signin", "package": "{standin}", "tls": "jsse"},
        "args": ["--ca", "{ca}", "--tls1-turned-on"], "env": {"PATCHER_TESTSSL_DATA": "/none"},
        "code": 2, "lines": both("sign-in pages (2 follow-up fetches), 0 redirects, HTTPS at "
                                 "localhost:48443", re.escape(WHOLE), re.escape(RUNS)),
        "summary": "summary: 2 of 2 pinned packages would run",
        "more": ["handshakes: not tried, so the lines above say nothing of the PCs' own TLS: no "
                 "testssl.sh data at /none: the PCs' recorded hellos come with it (apt-get install "
                 "testssl.sh, or scripts/install-deps.sh)"]},
    # 30 s of silence per package: one package only.
    "stalled": {
        "site": {"name": "stall", "package": "{standin}"}, "args": ["--only", XP], "code": 1,
        "lines": {XP: row("Windows XP", XP, "direct, 0 redirects",
                          r"75000 bytes, length announced",
                          unable("silence: the server stopped sending after 75000 bytes "
                                 "(timeout)"))},
        "least_seconds": 29,
        "summary": "summary: 0 of 1 pinned packages would run; not on: Windows XP"},
    # A proxy that is not there: nothing reaches the site, and the check
    # says the server does not answer rather than judging eight packages.
    "unanswered": {
        "site": {"name": "package", "package": "{standin}"}, "args": ["--proxy", "127.0.0.1:9"],
        "code": 2,
        "lines": {W98: row("Windows 98", W98, "direct, 0 redirects", "no answer",
                           unable("no connection to http://127.0.0.1:48080 (WinINet error "
                                  "12029)"))},
        "message": "check: the patch server does not answer (above), so nothing more was "
                   "checked.",
        "requests": []},
    # A server that holds the check past the bound given to it, well before
    # the program's own 30 s without an answer: ended, and nothing left.
    "past_bound": {
        "site": {"name": "hang"}, "args": ["--only", XP], "env": {"PATCHER_CHECK_SECONDS": "20"},
        "code": 2, "lines": {},
        # What it had printed is shown.
        "summary": "checking http://127.0.0.1:48080/patches/KB835732/ (sign-in service "
                   "localhost:48443), pinned release",
        "message": "check-site: the check ran past its bound of 20 seconds a package (20 s for 1 "
                   "package) and was ended"},
}

# Bad input: a clear message, exit code 2, and no build folder, no prefix.
REFUSALS = [
    ([], "give the release to check"),
    (["{notzip}"], "is not a release (not a ZIP file)"),
    (["{otherzip}"], "is not a release (no KB835732Patcher.exe in it)"),
    (["{tampered}"], "its files do not match its SHA256SUMS"),
    (["{badcheck}"], "its files do not match its SHA256SUMS"),
    (["{unlisted}"], "its SHA256SUMS does not list KB835732SiteCheck.exe"),
    (["{nocheck}"], "holds no KB835732SiteCheck.exe"),
    (["{othercheck}"], "its check was not built with the settings and pins its "
                       "ADMINISTRATORS.txt lists"),
    (["{othersite}"], "its program was not built with the settings and pins its "
                      "ADMINISTRATORS.txt lists"),
    (["{zip}", "--ca", "{notcert}"], "is not a certificate (PEM or DER)"),
    (["{zip}", "--packages", "{changed}"], f"does not match the release: its {XP} is not"),
    (["{zip}", "--packages", "{missing}"], f"does not match the release: it has no {W98}"),
    (["{zip}", "--only", "Windows2000-KB835732-x86-ENU.EXE"], "is not a package this release "
                                                              "pins"),
    (["{zip}", "--proxy", "proxy.example.org"], "is not HOST:PORT"),
    (["--server", "patches/x", "--signin", "s.example.org", "--phone", "1", "--help-url", "h",
      "--unpinned"], "is not a host name"),
]


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def release_flags(config, packages):
    return ["--server", config["server"], "--signin", config["signin"], "--phone",
            config["phone"], "--help-url", config["help_url"], "--packages", packages]


def make_release(config):
    """The package folders and the release, once for every configuration."""
    work = config["work"]
    for folder in ("packages", "dist"):
        shutil.rmtree(os.path.join(work, folder), ignore_errors=True)
    data = padded_bytes(config["standin"], 150000)
    changed = bytearray(data)
    changed[-1] ^= 1  # in the padding: Windows would still run it
    folders = {"pinned": {XP: data, W98: data},
               "missing": {XP: data, W98.lower(): data},
               "changed": {XP: bytes(changed), W98: data},
               "languages": {XP: data, XP_DEU: padded_bytes(config["standin"], 150000, "DEU"),
                             W98: data}}
    for folder, files in folders.items():
        os.makedirs(os.path.join(work, "packages", folder))
        for name, content in files.items():
            with open(os.path.join(work, "packages", folder, name), "wb") as f:
                f.write(content)
    made = subprocess.run([config["release_script"],
                           *release_flags(config, os.path.join(work, "packages", "pinned")),
                           "--out", os.path.join(work, "dist")],
                          capture_output=True, text=True, check=False)
    if made.returncode != 0:
        print(made.stderr)
        return 1
    print(f"release: {made.stdout.strip()}")
    return 0


def values(config):
    work = config["work"]
    packages = os.path.join(work, "packages")
    dist = os.path.join(work, "dist")
    zips = [name for name in os.listdir(dist) if name.endswith(".zip")] if os.path.isdir(dist) \
        else []
    if len(zips) != 1:
        sys.exit("no release: run the site_check_release test first")
    return {"zip": os.path.join(dist, zips[0]), "pinned": os.path.join(packages, "pinned"),
            "missing": os.path.join(packages, "missing"),
            "changed": os.path.join(packages, "changed"),
            "languages": os.path.join(packages, "languages"),
            "standin": os.path.join(packages, "pinned", XP),
            "pinned_digest": digest(os.path.join(packages, "pinned", XP)),
            "changed_digest": digest(os.path.join(packages, "changed", XP)),
            "ca": os.path.join(config["site_state"], "ca.crt")}


def fill(text, known):
    """Puts the known values in for {name}, escaped as a pattern or not."""
    return re.sub(r"\\?\{(\w+)\\?\}", lambda m: known[m.group(1)], text)


def check_site(config, args, env):
    return subprocess.run([config["check_script"], *args], capture_output=True, text=True,
                          env=env, timeout=900, check=False)


def run_on_pc(config, c, known):
    """The ZIP's check copied alone into C:\\SiteCheck of a prefix of its own
    (made once, as a PC that never saw the site), run as the configuration's
    Windows: its output, exit code, what it left, and what it added to the
    Internet cache."""
    prefix = os.path.join(config["wine_state"], "check-pc")
    folder = os.path.join(prefix, "drive_c", "SiteCheck")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    with zipfile.ZipFile(known["zip"]) as z, \
            open(os.path.join(folder, "KB835732SiteCheck.exe"), "wb") as f:
        f.write(z.read("KB835732SiteCheck.exe"))
    env = dict(os.environ, WINEPREFIX=prefix, PATCHER_WINE_STATE=config["wine_state"],
               **c.get("env", {}))
    before = internet_cache(prefix)
    try:
        result = subprocess.run([config["wine_run"], "--version", c["pc"],
                                 "C:\\SiteCheck\\KB835732SiteCheck.exe"], cwd=folder, env=env,
                                capture_output=True, text=True, timeout=900, check=False)
    finally:
        subprocess.run([config["wine_run"], "--stop-server"], env=env, check=False)
    # Under qemu-i386, Wine's own background processes now and then die with
    # a word on the way out; that is no part of the check's output.
    out = "".join(line + "\n" for line in result.stdout.replace("\r", "").splitlines()
                  if not line.startswith(("qemu: uncaught target signal", "wine client error")))
    added = cache_failures(before, internet_cache(prefix), known["standin"])
    return out, result.stderr, result.returncode, sorted(os.listdir(folder)), added


def run_configuration(config, name):
    known = values(config)
    c = CONFIGURATIONS[name]
    state = os.path.join(config["work"], "state")
    site_control(config, **{k: fill(v, known) for k, v in c["site"].items()})
    flags = c.get("flags")
    args = release_flags(config, fill(flags, known) if isinstance(flags, str) else
                         known["pinned"]) if flags else [known["zip"]]
    args += [fill(a, known) for a in c.get("args", [])]
    if "pc" in c:
        print(f"$ KB835732SiteCheck.exe (from the ZIP, alone, as {c['pc']})")
        out, err, code, left, failures = run_on_pc(config, c, known)
    else:
        env = dict(os.environ, PATCHER_CHECK_STATE=state, PATCHER_WINE_STATE=config["wine_state"],
                   **c.get("env", {}))
        result = check_site(config, args, env)
        print(f"$ check-site.sh {' '.join(args)}")
        out, err, code, failures = result.stdout, result.stderr, result.returncode, []
        run = os.path.join(state, "run")
        left = sorted(os.listdir(run)) if os.path.isdir(run) else None
        # The check that ran is the release's own, byte for byte (a release
        # made from the same settings and folder is the same).
        with zipfile.ZipFile(known["zip"]) as z:
            released = z.read("KB835732SiteCheck.exe")
        if left and not isinstance(flags, str):
            with open(os.path.join(run, "KB835732SiteCheck.exe"), "rb") as f:
                if f.read() != released:
                    failures.append("the check that ran is not the one the release holds")
    print(f"{out}{err}exit code {code}")
    output = [line for line in out.splitlines() if not line.startswith("check-site: ")]
    lines = {line.split(" | ")[1]: line for line in output
             if line.startswith("Windows ") and line.count(" | ") == 5}
    if output[:1] != [c.get("first", XP_PC)]:
        failures.append(f"the first line is {output[:1]}, expected {c.get('first', XP_PC)}")
    if set(lines) != set(c["lines"]):
        failures.append(f"lines for {sorted(lines)}, expected {sorted(c['lines'])}")
    for package, pattern in c["lines"].items():
        line = lines.get(package, "")
        if line and not re.fullmatch(fill(pattern, known), line):
            failures.append(f"the line for {package} is\n  {line}\nexpected\n  "
                            f"{fill(pattern, known)}")
    if code != c["code"]:
        failures.append(f"exit code {code}, expected {c['code']}")
    for line in ([c["summary"]] if "summary" in c else []) + c.get("more", []):
        if line not in output:
            failures.append(f"no line '{line}'")
    if "message" in c and c["message"] not in out + err:
        failures.append(f"no message '{c['message']}'")
    if "least_seconds" in c:
        for line in lines.values():
            seconds = float(re.search(r" \| (\d+\.\d) s, ", line).group(1))
            if seconds < c["least_seconds"]:
                failures.append(f"over after {seconds} s, before the silence limit")
    if "requests" in c:
        seen = [(e["server"], e["path"], e["query"]) for e in site_log(config)]
        expected = c["requests"]
        if len(seen) != len(expected) or not all(
                s[:2] == e[:2] and re.fullmatch(e[2], s[2]) for s, e in zip(seen, expected)):
            failures.append(f"the site saw {seen}, expected {expected}")
    if left != ["KB835732SiteCheck.exe"]:
        failures.append(f"the check's folder holds {left}, not only the check")
    if not any(line.startswith("this PC runs") for line in output) and (
            "the check did not finish" in err or "pc" in c and code not in (0, 1, 2)):
        print("wine start-up fault: the check ended before its first line")
    m = re.search(r"would not take .* \(exit code (\d+)\)", err)
    if m and int(m.group(1)) not in (2, 3, 4, 5):
        print("wine start-up fault: the CA tool ended before it began")
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


def bad_inputs(config, scratch):
    """Files a release could be mistaken for, made from the real one."""
    known = values(config)
    made = {"notzip": os.path.join(scratch, "notes.zip"),
            "otherzip": os.path.join(scratch, "other.zip"),
            "tampered": os.path.join(scratch, "tampered.zip"),
            "othersite": os.path.join(scratch, "othersite.zip"),
            "badcheck": os.path.join(scratch, "badcheck.zip"),
            "unlisted": os.path.join(scratch, "unlisted.zip"),
            "nocheck": os.path.join(scratch, "nocheck.zip"),
            "othercheck": os.path.join(scratch, "othercheck.zip"),
            "notcert": os.path.join(scratch, "ca.pem")}
    with open(made["notzip"], "w", encoding="ascii") as f:
        f.write("not a zip\n")
    with open(made["notcert"], "w", encoding="ascii") as f:
        f.write("-----BEGIN CERTIFICATE-----\nnot one\n-----END CERTIFICATE-----\n")
    with zipfile.ZipFile(made["otherzip"], "w") as z:
        z.writestr("README.txt", "a ZIP, but no release\n")
    with zipfile.ZipFile(known["zip"]) as z:
        files = {name: z.read(name) for name in z.namelist()}
    notes = files["ADMINISTRATORS.txt"]

    def write(path, changed_files, resum, unsummed=()):
        content = {n: d for n, d in dict(files, **changed_files).items() if d is not None}
        if resum:
            content["SHA256SUMS"] = "".join(
                f"{hashlib.sha256(content[n]).hexdigest()}  {n}\n"
                for n in content if n not in ("SHA256SUMS", *unsummed)).encode()
        with zipfile.ZipFile(path, "w") as z:
            for name, data in content.items():
                z.writestr(name, data)

    write(made["tampered"], {"ADMINISTRATORS.txt": notes + b"changed\n"}, False)
    check = "KB835732SiteCheck.exe"
    changed = files[check][:-1] + bytes([files[check][-1] ^ 1])
    write(made["badcheck"], {check: changed}, False)
    write(made["unlisted"], {check: changed}, True, unsummed=(check,))
    write(made["nocheck"], {check: None}, True)
    # The test build's check: the same patch server, but no pins.
    with open(config["site_check"], "rb") as f:
        write(made["othercheck"], {check: f.read()}, True)
    write(made["othersite"], {"ADMINISTRATORS.txt": re.sub(
        rb"(?m)^(  patch server +).*$", rb"\1patches.example.org", notes)}, True)
    return dict(known, **made)


def run_refusals(config):
    failures = []
    with tempfile.TemporaryDirectory(dir=config["work"]) as scratch:
        known = bad_inputs(config, scratch)
        state = os.path.join(scratch, "state")
        wine = os.path.join(scratch, "wine")
        env = dict(os.environ, PATCHER_CHECK_STATE=state, PATCHER_WINE_STATE=wine)
        for args, message in REFUSALS:
            args = [fill(a, known) for a in args]
            result = check_site(config, args, env)
            print(f"$ check-site.sh {' '.join(args)}\n{result.stdout}{result.stderr}", end="")
            if result.returncode != 2:
                failures.append(f"{args}: exit code {result.returncode}, expected 2")
            if message not in result.stderr or "nothing was checked" not in result.stderr:
                failures.append(f"{args}: no message '{message}'")
            if os.path.exists(state) or os.path.exists(wine):
                failures.append(f"{args}: made a build folder or a Wine prefix")
                shutil.rmtree(state, ignore_errors=True)
                shutil.rmtree(wine, ignore_errors=True)
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--config")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("name", nargs="?")
    args = parser.parse_args()
    if args.list:
        print("\n".join(sorted(CONFIGURATIONS)))
        return 0
    with open(args.config, encoding="utf-8") as f:
        config = json.load(f)
    if args.name == "release":
        return make_release(config)
    if args.name == "refusals":
        return run_refusals(config)
    probe = subprocess.run([config["wine_run"], "--probe"], capture_output=True, text=True,
                           env=dict(os.environ, PATCHER_WINE_STATE=config["wine_state"]),
                           check=False)
    if probe.returncode != 0:
        print(f"skipped: {probe.stdout.strip()}")
        return 125
    return run_configuration(config, args.name)


if __name__ == "__main__":
    sys.exit(main())
