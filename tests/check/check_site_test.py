#!/usr/bin/env python3
"""The administrator's site check (scripts/check-site.sh) against the
simulated site. One release is made once (`release`), pinned to the
stand-in package under the Windows XP and Windows 98 names; the check is
built once, in one folder, and each configuration then runs it once and
compares its table lines, summary and exit code, the requests the site saw,
and what the check left in its folder (nothing but itself).

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
from run_scenario import padded_bytes, site_control, site_log  # noqa: E402

XP, W98 = "WindowsXP-KB835732-x86-ENU.EXE", "828028USA8.EXE"
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


def both(route, size, verdict):
    return {W98: row("Windows 98", W98, route, size, verdict),
            XP: row("Windows XP", XP, route, size, verdict)}


SUITES = ("no cipher suite in common (Windows XP offers RC4 and 3DES only: offer "
          "TLS_RSA_WITH_3DES_EDE_CBC_SHA on this host)")


def xp_signin(tls, route, size, finding):
    """The Windows XP package through a sign-in service whose TLS Windows XP
    cannot speak."""
    return {"site": {"name": "signin", "package": "{standin}", "tls": tls},
            "args": ["--ca", "{ca}", "--only", XP], "code": 1,
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
        "summary": "summary: 2 of 2 pinned packages would run",
        "requests": [("patch", PREFIX + W98, ""), ("patch", PREFIX + XP, "")]},
    # Behind a GnuTLS front with TLS 1.0 and 3DES, and with TLS 1.0 turned on
    # in the PCs' Internet Options: what Windows 98 and XP need.
    "signin_https": {
        "site": {"name": "signin", "package": "{standin}", "tls": "3des"},
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
    "redirect_loop": {
        "site": {"name": "redirect-self"}, "code": 1,
        "lines": both("direct, 20 redirects", "no answer",
                      unable("redirect loop: given up after 20 redirects")),
        "summary": "summary: 0 of 2 pinned packages would run; not on: Windows 98, Windows XP"},
    # The patch server sends the users to a sign-in service whose CA the
    # prefix does not hold.
    "untrusted_signin": {
        "site": {"name": "signin-redirect", "via": "untrusted", "package": "{standin}",
                 "tls": "3des"},
        "code": 1, "lines": both("direct, 1 redirect, HTTPS at localhost:48444", "no answer",
                                 CERTIFICATE)},
    # Sign-in services Windows XP cannot reach, though Wine (TLS 1.0 at most,
    # but with AES and the server's name) may: the line names the cause.
    "signin_tls12_only": xp_signin("modern", "sign-in pages (1 follow-up fetch)", "no answer",
                                   "no protocol that Windows XP speaks (offer TLS 1.0 on this "
                                   "host)"),
    "signin_aes_only": xp_signin("", "sign-in pages (2 follow-up fetches)", re.escape(WHOLE),
                                 SUITES),
    "signin_sni_only": xp_signin("sni", "sign-in pages (2 follow-up fetches)", re.escape(WHOLE),
                                 SUITES + "; the right certificate is shown only to a hello that "
                                 "names the host, and Windows XP names none (make it this host's "
                                 "default certificate)"),
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
               "changed": {XP: bytes(changed), W98: data}}
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


def run_configuration(config, name):
    known = values(config)
    c = CONFIGURATIONS[name]
    state = os.path.join(config["work"], "state")
    env = dict(os.environ, PATCHER_CHECK_STATE=state, PATCHER_WINE_STATE=config["wine_state"],
               **c.get("env", {}))
    site_control(config, **{k: fill(v, known) for k, v in c["site"].items()})
    args = release_flags(config, known["pinned"]) if c.get("flags") else [known["zip"]]
    args += [fill(a, known) for a in c.get("args", [])]
    result = check_site(config, args, env)
    print(f"$ check-site.sh {' '.join(args)}\n{result.stdout}{result.stderr}exit code "
          f"{result.returncode}")
    failures = []
    lines = {line.split(" | ")[1]: line for line in result.stdout.splitlines()
             if line.startswith("Windows ") and line.count(" | ") == 5}
    if set(lines) != set(c["lines"]):
        failures.append(f"lines for {sorted(lines)}, expected {sorted(c['lines'])}")
    for package, pattern in c["lines"].items():
        line = lines.get(package, "")
        if line and not re.fullmatch(fill(pattern, known), line):
            failures.append(f"the line for {package} is\n  {line}\nexpected\n  "
                            f"{fill(pattern, known)}")
    if result.returncode != c["code"]:
        failures.append(f"exit code {result.returncode}, expected {c['code']}")
    if "summary" in c and c["summary"] not in result.stdout.splitlines():
        failures.append(f"no line '{c['summary']}'")
    if "message" in c and c["message"] not in result.stdout + result.stderr:
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
    left = sorted(os.listdir(os.path.join(state, "run"))) \
        if os.path.isdir(os.path.join(state, "run")) else None
    if left != ["KB835732SiteCheck.exe"]:
        failures.append(f"the check's folder holds {left}, not only the check")
    if "the check did not finish" in result.stderr and "checking http" not in result.stdout:
        print("wine start-up fault: the check ended before its first line")
    m = re.search(r"would not take .* \(exit code (\d+)\)", result.stderr)
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

    def write(path, changed_files, resum):
        content = dict(files, **changed_files)
        if resum:
            content["SHA256SUMS"] = "".join(
                f"{hashlib.sha256(content[n]).hexdigest()}  {n}\n"
                for n in content if n != "SHA256SUMS").encode()
        with zipfile.ZipFile(path, "w") as z:
            for name, data in content.items():
                z.writestr(name, data)

    write(made["tampered"], {"ADMINISTRATORS.txt": notes + b"changed\n"}, False)
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
