#!/usr/bin/env python3
"""The test command's harness under Wine. A Windows program that crashes
ends at once, natively as under emulation; its test fails within seconds,
saying so, and scripts/test.sh never takes it for Wine dying as it started.
scripts/wine-run.sh prints nothing of a wineserver that ended while it
looked for its prefix's.

    harness_test.py CONFIG.json
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts"))
from startup_faults import verdict  # noqa: E402

CONFIG = {}
# A crash that waits in a debugger sat there for minutes; Wine's start-up
# under emulation takes seconds.
MOST_SECONDS = 30


def run(args, env=None):
    started = time.monotonic()
    try:
        result = subprocess.run(args, capture_output=True, text=True, env=env,
                                timeout=2 * MOST_SECONDS, check=False)
    except subprocess.TimeoutExpired as e:
        raise AssertionError(f"{args} still ran after {e.timeout} s: {e.output}") from None
    return result, result.stdout + result.stderr, time.monotonic() - started


class Crash(unittest.TestCase):
    def test_a_scenario_whose_program_crashes_fails_at_once_named(self):
        with tempfile.TemporaryDirectory(dir=os.path.dirname(CONFIG["work"])) as work:
            config = dict(CONFIG, program=CONFIG["standin_crash"], work=work)
            path = os.path.join(work, "config.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump(config, f)
            result, output, seconds = run([sys.executable, os.path.join(HERE, "run_scenario.py"),
                                           "--config", path, "cancel"])
        print(output)
        self.assertEqual(1, result.returncode)
        self.assertIn("FAIL: the program crashed: exception 0xC0000005 (access violation)",
                      output.splitlines())
        self.assertNotIn("wine start-up fault", output)
        self.assertLess(seconds, MOST_SECONDS)
        self.assertEqual("failed e2e_cancel: a program crashed",
                         verdict("e2e_cancel", output, set()))

    def test_a_program_run_directly_that_crashes_is_told_apart_from_its_exit_code(self):
        # As ctest runs a GoogleTest suite, or check-site.sh its check.
        result, output, seconds = run([CONFIG["wine_run"], CONFIG["standin_crash"]])
        print(output)
        self.assertEqual(5, result.returncode)  # 0xC0000005's low 8 bits
        self.assertRegex(output, r"(?m)^wine-run: crashed \(Unhandled page fault on write "
                                 r"access to 0+ at address [0-9A-Fa-f]+\), exit code 5$")
        self.assertLess(seconds, MOST_SECONDS)
        self.assertEqual("failed suite: a program crashed", verdict("suite", output, {"suite"}))


class LookUps(unittest.TestCase):
    def test_a_wineserver_gone_while_looked_at_goes_unsaid(self):
        # pgrep names a process that has ended by the time it is read.
        with tempfile.TemporaryDirectory() as stubs:
            pgrep = os.path.join(stubs, "pgrep")
            with open(pgrep, "w", encoding="ascii") as f:
                f.write(f"#!/bin/sh\necho 4194305\nexec {shutil.which('pgrep')} \"$@\"\n")
            os.chmod(pgrep, 0o755)
            env = dict(os.environ, PATH=stubs + os.pathsep + os.environ["PATH"])
            # The probe without arguments: its usage, exit code 4.
            result, output, _ = run([CONFIG["wine_run"], CONFIG["probe"]], env)
        self.assertEqual(4, result.returncode, output)
        self.assertEqual("usage: ui_probe --log FILE [options] -- PROGRAM", output.strip())


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        CONFIG.update(json.load(f))
    probe = subprocess.run([CONFIG["wine_run"], "--probe"], capture_output=True, text=True,
                           check=False)
    if probe.returncode != 0:
        print(f"skipped: {probe.stdout.strip()}")
        return 125
    tests = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    return 0 if unittest.TextTestRunner(verbosity=2).run(tests).wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
