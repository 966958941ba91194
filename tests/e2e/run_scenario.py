#!/usr/bin/env python3
"""Runs the real program in the Wine prefix for one scenario and checks it.

The program is copied into a folder of its own, the simulated site is told
what to answer, and tests/e2e/ui_probe.exe starts the program, records and
answers its message boxes and samples its status window. Then the boxes
(caption, text byte for byte, buttons, icon, topmost, owner), the requests
the site saw, the runs of the stand-in package, the window title and status
lines, what is left beside the program and the exit code are compared with
what the scenario expects.

    run_scenario.py --config CONFIG.json NAME     run one scenario
    run_scenario.py --list                        names of all scenarios
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "site"))
from real_servers import PATCH_PREFIX, TICKET, Nginx, Squid  # noqa: E402
from scenarios import (DESCRIPTIONS, HOSTILE_PAGES, MARKERS, PINNED_SCENARIOS, SCENARIOS,
                       expected_boxes, return_page, signin_page)  # noqa: E402

# The proxy the PCs of the proxy scenarios are set up to use.
SQUID_PORT = 48128
# The emulated Windows of the 95 family that have a package.
NINE_X = ("win98", "winme")

# Windows ends a process that an exception killed with the exception's code,
# which has its top bit set; the program itself always ends with 1.
CRASHES = {0xC0000005: "access violation", 0xC000001D: "illegal instruction",
           0xC0000094: "integer division by zero", 0xC00000FD: "stack overflow",
           0xC0000409: "stack buffer overrun", 0x80000003: "breakpoint"}


def crash(code):
    """The exception an exit code tells of, or None when it is no crash."""
    if code < 0x80000000:
        return None
    return f"exception 0x{code:08X}" + (f" ({CRASHES[code]})" if code in CRASHES else "")


def wine_prefix():
    """The prefix scripts/wine-run.sh runs in."""
    state = os.environ.get("PATCHER_WINE_STATE") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "wine")
    return os.path.abspath(os.environ.get("WINEPREFIX") or os.path.join(state, "base"))


def drive_c():
    return os.path.join(wine_prefix(), "drive_c")


def wine_path(path):
    """The Windows path of a file: on drive C: inside the prefix, else Z:."""
    path = os.path.abspath(path)
    if path.startswith(drive_c() + os.sep):
        return "C:\\" + os.path.relpath(path, drive_c()).replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


def unix_path(windows_path):
    """A C:\\ path in the prefix as a path of this machine."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(drive_c(), *windows_path[3:].split("\\"))


def as_recorded(s, text):
    """Text in the Windows' code page, a byte a character, as recorded."""
    return text.encode(s.get("codepage", "cp1252")).decode("latin-1")


def site_control(config, **query):
    url = config["site"] + "/_control/scenario?" + urllib.parse.urlencode(query)
    with urllib.request.urlopen(url, timeout=10) as answer:
        answer.read()


def site_log(config):
    with urllib.request.urlopen(config["site"] + "/_control/log", timeout=10) as answer:
        return json.loads(answer.read())


def padded_bytes(standin, size, language=None):
    """The stand-in package padded to `size` bytes (Windows ignores the tail),
    ending in the code of its language, if any: bytes of its own."""
    data = open(standin, "rb").read()
    if size < len(data) + 3:
        raise SystemExit(f"the stand-in is {len(data)} bytes, more than the {size} asked for")
    return data + b"\0" * (size - len(data) - 3) + (language or "\0\0\0").encode("ascii")


def padded_standin(config, folder, size, changed=False, language=None):
    path = os.path.join(folder, "served", "standin.exe")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    data = bytearray(padded_bytes(config["standin"], size, language))
    if changed:
        # One byte of the padding: Windows would still run it.
        data[-1] ^= 1
    with open(path, "wb") as f:
        f.write(data)
    return path


# A stand-in put in the package's place: long enough to pass the size
# check, and it records any run of it.
IN_PLACE_SIZE = 150000


def junk_file(folder, size):
    path = os.path.join(folder, "served", "junk.bin")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write((b"not a program " * (size // 14 + 1))[:size])
    return path


class Failures:
    def __init__(self):
        self.items = []

    def check(self, ok, what):
        if not ok:
            self.items.append(what)


def program_folder(config, name, deep, on_drive_c=None):
    if on_drive_c:
        return unix_path(on_drive_c)
    base = os.path.join(config["work"], name, "program")
    if deep:
        # Deep enough that folder + package name passes 259 characters,
        # while the program's own path still fits.
        windows_len = len(wine_path(base)) + 1
        depth = max(0, 236 - windows_len)
        parts, left = [], depth
        while left > 0:
            step = min(left, 60)
            parts.append("d" * (step - 1))
            left -= step
        base = os.path.join(base, *parts) if parts else base
    return base


def run(config, name):
    s = SCENARIOS.get(name) or PINNED_SCENARIOS[name]
    root = os.path.join(config["work"], name)
    folder = program_folder(config, name, s.get("deep", False), s.get("folder"))
    in_place = os.path.join(folder, s["package"]) if s.get("in_place") else None
    for mount in (in_place, folder):  # left by a run that was killed
        if mount:
            subprocess.run(["umount", mount], capture_output=True)
    shutil.rmtree(root, ignore_errors=True)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder, exist_ok=True)
    if in_place:
        with open(in_place, "wb") as f:
            f.write(padded_bytes(config["standin"], IN_PLACE_SIZE))
    if s.get("in_place") == "read-only":
        # Root writes through a file's modes; not through a read-only mount.
        if os.geteuid() != 0:
            print("a read-only mount over the package's place needs root: not run")
            return 125
        subprocess.run(["mount", "--bind", in_place, in_place], check=True)
        try:
            subprocess.run(["mount", "-o", "remount,bind,ro", in_place], check=True)
            return run_in(config, name, s, root, folder)
        finally:
            subprocess.run(["umount", in_place], check=True)
    if s.get("system_wininet"):
        return with_system_wininet(config, s, lambda: run_in(config, name, s, root, folder))
    if s.get("folder"):
        # Nothing may appear beside the folder, where a name read byte by
        # byte would put the package.
        parent, before = os.path.dirname(folder), os.listdir(os.path.dirname(folder))
        try:
            result = run_in(config, name, s, root, folder)
        finally:
            added = sorted(set(os.listdir(parent)) - set(before))
            shutil.rmtree(unix_path("C:\\" + s["folder"].split("\\")[1]), ignore_errors=True)
        for leftover in added:
            print(f"FAIL: written beside the program's folder: {leftover}")
            os.remove(os.path.join(parent, leftover))
        return result or int(bool(added))
    if not s.get("tmpfs_kb"):
        return run_in(config, name, s, root, folder)
    # The program's folder on a volume of its own, too small for the package.
    if os.geteuid() != 0:
        print("a small volume for the program's folder needs root: not run")
        return 125
    subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={s['tmpfs_kb']}k", "tmpfs", folder],
                   check=True)
    try:
        return run_in(config, name, s, root, folder)
    finally:
        subprocess.run(["umount", folder], check=True)


def system_wininet():
    return os.path.join(drive_c(), "windows", "system32", "wininet.dll")


def with_system_wininet(config, s, run_it):
    """Runs with a stand-in in place of the prefix's own wininet.dll (an
    old Internet Explorer's), and puts Wine's back however the run ends."""
    target = system_wininet()
    saved = target + ".patcher-saved"
    if not os.path.exists(saved):  # else left by a run that was killed
        shutil.copyfile(target, saved)
    record = target + ".loaded.txt"
    try:
        shutil.copyfile(config[s["system_wininet"]], target)
        if os.path.exists(record):
            os.remove(record)
        result = run_it()
        if not os.path.exists(record):
            print(f"FAIL: the stand-in {s['system_wininet']} was never loaded: the run proves nothing")
            result = result or 1
        elif s.get("wininet_sent"):
            sent = [line for line in open(record, encoding="latin-1").read().splitlines()
                    if line.startswith("request sent")]
            if not sent or any(line != s["wininet_sent"] for line in sent):
                print(f"FAIL: requests sent, expected each as {s['wininet_sent']!r}: {sent}")
                result = result or 1
        return result
    finally:
        shutil.copyfile(saved, target)
        os.remove(saved)
        if os.path.exists(record):
            os.remove(record)


def plant(config, folder, planted):
    """Files put where Windows would look for a program or a DLL: a path
    on drive C:, or a name beside the program. Gives their unix paths."""
    paths = []
    for where, what in planted.items():
        path = unix_path(where) if where[1:3] == ":\\" else os.path.join(folder, where)
        shutil.copyfile(config[what], path)
        for record in (path + ".ran.txt", path + ".loaded.txt"):
            if os.path.exists(record):
                os.remove(record)
        paths.append(path)
    return paths


def run_in(config, name, s, root, folder):
    program = os.path.join(folder, "KB835732Patcher.exe")
    shutil.copyfile(config["program"], program)
    planted = plant(config, folder, s.get("plant", {}))
    try:
        return run_program(config, name, s, root, folder, program, planted)
    finally:
        for path in planted:
            for leftover in (path, path + ".ran.txt", path + ".loaded.txt"):
                if os.path.exists(leftover) and os.path.dirname(leftover) != folder:
                    os.remove(leftover)


def port_of(url_or_host):
    return int(url_or_host.rsplit(":", 1)[1].split("/")[0])


class RealServers:
    """nginx on the simulated site's ports for one run, with squid in front
    where the scenario's PCs use a proxy."""

    def __init__(self, config, root, s):
        self.config, self.root, self.s = config, root, s
        state = os.environ.get("PATCHER_SITE_STATE") or os.path.join(
            os.path.dirname(os.path.abspath(config["site_script"])), "..", "build", "site")
        self.https_port = port_of(config["signin_host"])
        self.nginx = Nginx(os.path.join(root, "nginx"), os.path.join(state, "server.crt"),
                           os.path.join(state, "server.key"), port_of(config["site"]),
                           self.https_port)
        self.squid = Squid(os.path.join(root, "squid"), SQUID_PORT,
                           [self.https_port]) if s.get("proxy") else None
        self.first_requests = []

    def start(self, package, served_path):
        if self.s["server"] == "nginx-signin":
            link = f"{self.config['site']}{PATCH_PREFIX}{package}?ticket={TICKET}"
            self.nginx.start(package, served_path, signin_page("rt-1", "st-1"), return_page(link))
        else:
            self.nginx.start(package, served_path)
        if self.squid:
            self.squid.start()

    def stop(self):
        if self.squid:
            self.squid.stop()
        self.nginx.stop()

    def second_pc(self, program, served_path, size):
        """The same program on a second PC (a prefix of its own) behind the
        same proxy, which should answer it from its cache."""
        self.first_requests = self.nginx.requests()
        prefix = os.path.join(os.path.dirname(wine_prefix()), "second-pc")
        folder = os.path.join(self.root, "second-pc", "program")
        shutil.rmtree(os.path.dirname(folder), ignore_errors=True)
        os.makedirs(folder)
        copy = os.path.join(folder, "KB835732Patcher.exe")
        shutil.copyfile(program, copy)
        probe_log = os.path.join(self.root, "second-pc", "probe.log")
        before = internet_cache(prefix)
        try:
            code, events, seconds = run_probe(self.config, self.s, probe_log, copy, prefix)
        finally:
            subprocess.run([self.config["wine_run"], "--stop-server"],
                           env=dict(os.environ, WINEPREFIX=prefix), check=False)
        failures = cache_failures(before, internet_cache(prefix), served_path)
        added = self.nginx.requests()[len(self.first_requests):]
        # Nothing reached the server: the proxy answered from its copy.
        s = dict(self.s, requests=[], window="brief")
        if judge(self.config, "second PC", s, folder, copy, code, events, added, seconds, size,
                 (), failures):
            return ["the second PC's run failed (above)"]
        return []

    def proxy_failures(self):
        """The program asked the proxy, sent no "no-cache" to it or to the
        server, and a second PC was served from the proxy's copy."""
        failures = []
        for r in self.nginx.requests():
            if r["pragma"] not in ("", "-") or "no-cache" in r["cache_control"]:
                failures.append(f"a request told caches to reload: {r}")
        if not self.squid:
            return failures
        log = self.squid.log()
        print("squid:", log)
        package_fetches = [code for code, method, url in log if PATCH_PREFIX in url]
        if not package_fetches:
            failures.append(f"the package was not fetched through the proxy: {log}")
        if self.s.get("second_pc"):
            hit = len(package_fetches) == 2 and package_fetches[0].startswith("TCP_MISS/") and \
                package_fetches[1].split("/")[0] in ("TCP_HIT", "TCP_MEM_HIT")
            if not hit:
                failures.append(f"the second PC was not served from the proxy's copy: {log}")
        if self.s["server"] == "nginx-signin" and not any(
                method == "CONNECT" for _, method, _ in log):
            failures.append(f"the sign-in service was not reached through the proxy: {log}")
        return failures


def probe_command(config, s, probe_log, program):
    args = [config["wine_run"], "--version", s.get("version", "winxp"), config["probe"],
            "--log", wine_path(probe_log), "--clear-deferred", "--timeout", str(s.get("timeout", 240))]
    for index, marker in enumerate(MARKERS):
        args += ["--create-key" if index in s.get("markers", []) else "--delete-key", marker]
    options = r"System\CurrentControlSet\Control\ProductOptions"
    if "product_type" in s:
        args += ["--set-sz", options, "ProductType", s["product_type"]]
    if "suite" in s:
        args += ["--set-multi-sz", options, "ProductSuite", s["suite"]]
    else:
        args += ["--delete-value", options, "ProductSuite"]
    # Where NT records its install language; the scenarios' Windows 2000
    # and later tell theirs from the locale in "env" (Wine's way).
    args += ["--set-sz", r"System\CurrentControlSet\Control\Nls\Language", "InstallLanguage",
             s.get("install_language", "0409")]
    for answer in s.get("answers", []):
        args += ["--answer", answer]
    if config.get("screenshots"):
        args += ["--screenshots", wine_path(config["screenshots"])]
    if "second_after_ms" in s:
        args += ["--second-after", str(s["second_after_ms"])]
    if s.get("proxy"):
        args += ["--proxy", f"127.0.0.1:{SQUID_PORT}"]
    if s.get("in_place") == "held":
        args += ["--hold", wine_path(os.path.join(os.path.dirname(program), s["package"]))]
    return args + ["--", wine_path(program)]


def run_probe(config, s, probe_log, program, prefix=None):
    """Runs the program under the probe: (exit code, events, seconds)."""
    env = dict(os.environ)
    env.update(s.get("env", {}))
    # The proxy is the prefix's setting alone (Wine would read these too).
    for variable in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        env.pop(variable, None)
    if prefix:
        env["WINEPREFIX"] = prefix
    started = time.monotonic()
    code = subprocess.run(probe_command(config, s, probe_log, program), env=env,
                          timeout=s.get("timeout", 240) + 120).returncode
    seconds = time.monotonic() - started
    events = []
    if os.path.exists(probe_log):
        with open(probe_log, encoding="utf-8") as f:
            events = [json.loads(line) for line in f if line.strip()]
    return code, events, seconds


def internet_cache(prefix=None):
    """The files of the user's Internet cache in a prefix (index files aside)."""
    top = os.path.join(prefix or wine_prefix(), "drive_c", "users")
    found = set()
    for root, _, files in os.walk(top):
        if "INetCache" in root or "Temporary Internet Files" in root:
            found.update(os.path.join(root, n) for n in files if n.lower() != "index.dat")
    return found


def cache_failures(before, after, served_path):
    """What a run added to the Internet cache; a copy of the package or a
    sign-in page is named as such."""
    package = open(served_path, "rb").read()
    found = []
    for path in sorted(after - before):
        data = open(path, "rb").read()
        kind = ("a copy of the package" if data == package else
                "a sign-in page" if b"Tarrowin Keyloom" in data else "a file")
        found.append(f"{kind} in the Internet cache: {path}")
    return found


def run_program(config, name, s, root, folder, program, planted):
    package = s.get("package")

    # What the site serves.
    served = s.get("serve", ("standin", 150000))
    kind, size = served
    if kind.startswith(("standin", "changed")):  # "standin-DEU": the German package
        served_path = padded_standin(config, root, size, kind == "changed", kind[8:] or None)
    else:
        served_path = junk_file(root, size)
    site = dict(s.get("site", {"name": "package"}))
    if s.get("page"):
        page_path = os.path.join(root, "served", "page.htm")
        with open(page_path, "w", encoding="latin-1") as f:
            f.write(HOSTILE_PAGES[s["page"]])
        site = {"name": "page", "bodyfile": page_path}
    site.setdefault("package", served_path)
    if package:
        site.setdefault("file", package)
    probe_log = os.path.join(root, "probe.log")
    if window_expected(s) is True:
        # The site holds its first answer until the probe has seen the window.
        site["gate"] = probe_log
        if "second_after_ms" in s:
            # And until one copy has ended: the first, or, where the second
            # took the lock first, that one.
            site["gate_events"] = "window,exit|second-exit"

    # Real servers take the simulated site's ports for the run.
    real = RealServers(config, root, s) if s.get("server") else None
    stopped_site = s.get("site_down", False) or real is not None
    if not stopped_site:
        site_control(config, **site)
    cache_before = internet_cache()
    if stopped_site:
        subprocess.run([config["site_script"], "stop"], check=True)
    try:
        if real:
            real.start(package, served_path)
        code, events, seconds = run_probe(config, s, probe_log, program)
        more = real.second_pc(program, served_path, size) if real and s.get("second_pc") else []
    finally:
        if real:
            real.stop()
        if stopped_site:
            subprocess.run([config["site_script"], "start"], check=True)
    if code == 125 and not os.path.exists(probe_log):
        print("Wine cannot run on this machine")
        return 125

    if real:
        requests = real.first_requests or real.nginx.requests()
        more += real.proxy_failures()
    else:
        requests = [] if stopped_site else site_log(config)
    more += cache_failures(cache_before, internet_cache(), served_path)
    result = judge(config, name, s, folder, program, code, events, requests, seconds, size,
                   planted, more)
    # Every scenario begins with a box. A program (or probe) that ended any
    # other way before showing a window never got to be checked: under qemu
    # that is Wine dying as it starts, which scripts/test.sh may run again.
    # A crash is the program's own fault, never that.
    crashed = any(e["event"] in ("exit", "second-exit") and crash(e["code"]) for e in events)
    if result and not any(e["event"] in ("box", "window") for e in events) and code != 1 \
            and not crashed:
        print(f"wine start-up fault: ended with code {code} before the program's first window")
    return result


def window_expected(s):
    """True, False, or "brief": it may come and go between two samples."""
    return s.get("window", bool(s.get("package")) and not s.get("deep"))


def judge(config, name, s, folder, program, code, events, requests, seconds, served_size,
          planted=(), more=()):
    f = Failures()
    for failure in more:
        f.check(False, failure)
    package = s.get("package")
    boxes = [e for e in events if e["event"] == "box"]
    windows = [e for e in events if e["event"] == "window"]
    exits = [e for e in events if e["event"] == "exit"]

    for e in events:
        if e["event"] in ("exit", "second-exit") and crash(e["code"]):
            f.check(False, f"the program crashed: {crash(e['code'])}")
    f.check(code == 1 and [e["code"] for e in exits] == [1],
            f"exit code 1 expected, probe gave {code} and {exits}")
    if s.get("max_ms") and exits:
        f.check(exits[0]["ms"] <= s["max_ms"],
                f"the run took {exits[0]['ms']} ms, more than {s['max_ms']}")
    if "second_after_ms" in s:
        seconds_exits = [e["code"] for e in events if e["event"] == "second-exit"]
        f.check(seconds_exits == [1], f"the second copy should end with 1: {seconds_exits}")
    expected = expected_boxes(config, s)
    got = [{k: b[k] for k in ("caption", "text", "buttons", "icon", "default", "owned")} for b in boxes]
    f.check(got == expected, "message boxes differ:\n  expected "
            + json.dumps(expected, indent=1) + "\n  got " + json.dumps(got, indent=1))

    # Requests: the package path (and the sign-in route where it applies).
    want = s.get("requests")
    if want is None:
        want = [("patch", "/patches/KB835732/" + package)] if package else []
    seen = [(r["server"], r["path"]) for r in requests]
    if want == "patch-first":
        # Whatever the pages led to, it began with the package and never
        # went anywhere but the site's own web servers.
        f.check(seen[:1] == [("patch", "/patches/KB835732/" + package)]
                and all(server in ("patch", "signin") for server, _ in seen),
                f"requests: {seen}")
    elif want == "patch-only":
        f.check(seen and all(r == ("patch", "/patches/KB835732/" + package) for r in seen),
                f"requests: {seen}")
    else:
        f.check(seen == [tuple(w) for w in want], f"requests expected {want}, site saw {seen}")
    if s.get("max_requests"):
        f.check(len(seen) <= s["max_requests"],
                f"{len(seen)} requests, more than {s['max_requests']}")
    f.check(all(r["agent"] == "InetURL/1.0" for r in requests),
            f"every request with the agent InetURL/1.0: {requests}")

    # The status window: only while downloading, titled with the version.
    # "brief": it may come and go between two samples; what is seen must fit.
    window = window_expected(s)
    if window:
        title = "KB835732 Patcher Windows Version: " + DESCRIPTIONS[s.get("version", "winxp")]
        f.check(bool(windows) or window == "brief", "no status window was seen")
        for w in windows:
            f.check(w["title"] == title, f"window title {w['title']!r}, expected {title!r}")
            f.check(w["rect"] == [0, 0, 600, 50], f"status window at {w['rect']}")
        pattern = re.compile(r"^(\d+) Bytes read \((.*)\)$")
        counts = []
        for w in windows:
            if w["status"]:
                m = pattern.match(w["status"])
                f.check(bool(m) and m.group(2) == package, f"status line {w['status']!r}")
                if m:
                    counts.append(int(m.group(1)))
        f.check(counts == sorted(counts), f"byte counts go back: {counts}")
        if s.get("min_status_samples"):
            f.check(len(counts) >= s["min_status_samples"],
                    f"only {len(counts)} status lines sampled")
    else:
        f.check(not windows, f"a window was shown: {windows[:2]}")

    # The stand-in package's own record of its runs.
    ran_path = program[: -len("KB835732Patcher.exe")] + (package or "none") + ".ran.txt"
    runs = open(ran_path, encoding="latin-1").read().splitlines() if os.path.exists(ran_path) else []
    f.check(len(runs) == s.get("ran", 0), f"package ran {len(runs)} times: {runs}")
    started_as = as_recorded(s, '"' + wine_path(os.path.join(folder, package or "none")) + '"')
    for line in runs:
        # By its quoted path and nothing else: no arguments, nothing of an
        # unquoted path read as arguments.
        f.check(line.startswith(f"argc=1|cmdline={started_as}|"),
                f"package not started by its quoted path {started_as} alone: {line}")
        # Whole: a cut copy of the stand-in would run as well; and it reads
        # its own file whole while it runs. On NT the program holds the file
        # until the package has ended: nobody may write or rename it. On
        # Windows 9x, which protects no file, the hold is let go before the
        # start, and Wine, which plays NT's rules on every version, then
        # lets a rename through; what it does with a write there is Wine's.
        held = ("|write=refused|rename=refused" if s.get("version", "winxp") not in NINE_X
                else "|rename=done")
        f.check(f"|size={served_size}|read={served_size}|" in line and held in line,
                f"package not as served, not read whole, or held wrongly (want {held}): {line}")

    # Nothing left beside the program, or, where deletion had to wait, a
    # restart deletion of exactly that file.
    # What was planted must never have run or been loaded.
    for path in planted:
        for record in (path + ".ran.txt", path + ".loaded.txt"):
            f.check(not os.path.exists(record), f"the planted {os.path.basename(path)} ran or "
                    f"was loaded: {open(record, encoding='latin-1').read()!r}"
                    if os.path.exists(record) else "")
    planted_here = [os.path.basename(p) for p in planted if os.path.dirname(p) == folder]
    left = sorted(n for n in os.listdir(folder)
                  if n not in ["KB835732Patcher.exe"] + planted_here and not n.endswith(".ran.txt"))
    deferred = s.get("deferred")
    pending = [e for e in events if e["event"] == "pending"]
    wininit = [e for e in events if e["event"] == "wininit"]
    if s.get("in_place"):
        in_place = os.path.join(folder, package)
        if os.path.exists(in_place):
            f.check(open(in_place, "rb").read() == padded_bytes(config["standin"], IN_PLACE_SIZE),
                    "the stand-in in the package's place was changed")
    if s.get("in_place") == "held":
        f.check([e["ok"] for e in events if e["event"] == "hold"] == [True],
                "the probe did not hold the stand-in in the package's place")
    if s.get("kept"):
        f.check(left == [package], f"the package's place should be left as it was: {left}")
        f.check(not pending and not wininit, f"unexpected restart deletions: {pending} {wininit}")
    elif deferred:
        f.check(left == [package], f"the held package should still be there: {left}")
        target = as_recorded(s, wine_path(os.path.join(folder, package)))
        if deferred == "nt":
            f.check([(p["from"], p["to"]) for p in pending] == [("\\??\\" + target, "")],
                    f"restart deletion expected for {target}: {pending}")
        else:
            # The package by a short (8.3) path of Wine's own making.
            f.check([(w["line"][:4].upper(), w["long"]) for w in wininit] == [("NUL=", target)],
                    f"WININIT.INI [rename] entry expected for {target}: {wininit}")
        # The holder lets go after a while; then the file can go.
        for _ in range(100):
            try:
                os.remove(os.path.join(folder, package))
                break
            except FileNotFoundError:
                break
            except OSError:
                time.sleep(0.1)
    else:
        f.check(left == [], f"left beside the program: {left}")
        f.check(not pending and not wininit, f"unexpected restart deletions: {pending} {wininit}")

    for check in s.get("extra_checks", []):
        check(f, events, requests)

    print(f"{name}: {len(boxes)} boxes, {len(requests)} requests, {len(windows)} window samples, "
          f"{seconds:.1f} s")
    for b in boxes:
        print(f"  box {b['caption']!r}: {b['text']!r} answered {b['answer']}")
    if f.items:
        for item in f.items:
            print("FAIL: " + item)
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(SCENARIOS))
        return 0
    with open(args.config, encoding="utf-8") as f:
        config = json.load(f)
    results = [run(config, name) for name in args.names or list(SCENARIOS)]
    if any(r not in (0, 125) for r in results):
        return 1
    return 125 if 125 in results else 0


if __name__ == "__main__":
    sys.exit(main())
