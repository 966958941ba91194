#!/usr/bin/env python3
"""scripts/startup_faults.py retries only a test that died as Wine started,
never a failed check, and nothing that passed."""
import os
import subprocess
import sys
import tempfile
import unittest
from xml.sax.saxutils import escape

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                      "startup_faults.py")


def report(cases):
    body = "".join(
        f'<testcase name="{name}" classname="{name}" time="1" status="{status}">'
        + ('<failure message=""/>' if status == "fail" else "")
        + f"<system-out>{escape(output)}</system-out></testcase>"
        for name, status, output in cases)
    return f'<?xml version="1.0" encoding="UTF-8"?><testsuite name="x">{body}</testsuite>'


def verdicts(cases, suites=()):
    with tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False) as f:
        f.write(report(cases))
    try:
        out = subprocess.run([sys.executable, SCRIPT, f.name, *suites], check=True,
                             capture_output=True, text=True).stdout
    finally:
        os.unlink(f.name)
    return out.splitlines()


STARTUP = ("cancel: 0 boxes, 0 requests, 0 window samples, 3.0 s\n"
           "FAIL: exit code 1 expected, probe gave 139 and []\n"
           "wine start-up fault: ended with code 139 before the program's first window\n")


class StartupFaults(unittest.TestCase):
    def test_only_deaths_at_start_are_retried(self):
        got = verdicts([
            ("e2e_cancel", "fail", STARTUP),
            ("e2e_signin", "fail", "FAIL: window title '', expected 'x'\n"),
            ("e2e_passed", "run", STARTUP),
            ("wine_unit_tests", "fail", ""),
            ("live_windows_nt40", "fail", "[==========] Running 3 tests\n[  FAILED  ] LiveWindows.A\n"),
            ("program_imports", "fail", ""),
        ], suites=["wine_unit_tests", "live_windows_nt40"])
        self.assertEqual([
            "retry e2e_cancel: the program died before its first window",
            "failed e2e_signin",
            "retry wine_unit_tests: the suite died before its first test",
            "failed live_windows_nt40",
            "failed program_imports",
        ], got)

    def test_a_crash_is_never_retried(self):
        # Both died before their first window or test, as Wine does when it
        # fails to start; the crash lines tell them apart.
        crashed_suite = "wine-run: crashed (Unhandled page fault on write access to 00000000 " \
                        "at address 00401000), exit code 5\n"
        got = verdicts([
            ("e2e_cancel", "fail", "FAIL: the program crashed: exception 0xC0000005 (access "
                                   "violation)\n" + STARTUP),
            ("wine_unit_tests", "fail", crashed_suite),
        ], suites=["wine_unit_tests"])
        self.assertEqual(["failed e2e_cancel: a program crashed",
                          "failed wine_unit_tests: a program crashed"], got)

    def test_a_check_that_merely_mentions_the_marker_is_not_retried(self):
        got = verdicts([("e2e_x", "fail", "FAIL: status line 'wine start-up fault: x'\n")])
        self.assertEqual(["failed e2e_x"], got)


if __name__ == "__main__":
    unittest.main()
