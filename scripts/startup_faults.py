#!/usr/bin/env python3
"""Sorts the failed tests of a ctest JUnit report into those that failed only
because Wine died as it started, and all others (a failed check among them).

    startup_faults.py REPORT.xml [SUITE...]

prints "retry NAME: why" or "failed NAME" for each failed test. SUITEs are
the GoogleTest suites run under Wine: one that never began its first test
died starting. An end-to-end scenario says so itself (run_scenario.py). A
test whose output tells of a crash (scripts/wine-run.sh, run_scenario.py)
is never retried.
"""
import sys
import xml.etree.ElementTree as ElementTree


def verdict(name, output, suites):
    # A crash is a fault of the program, whenever it came: never run again.
    if any(line.startswith(("wine-run: crashed", "FAIL: the program crashed"))
           for line in output.splitlines()):
        return f"failed {name}: a program crashed"
    if any(line.startswith("wine start-up fault:") for line in output.splitlines()):
        return f"retry {name}: the program died before its first window"
    if name in suites and "[==========] Running" not in output:
        return f"retry {name}: the suite died before its first test"
    return f"failed {name}"


def main():
    report, suites = sys.argv[1], set(sys.argv[2:])
    for case in ElementTree.parse(report).getroot().iter("testcase"):
        if case.get("status") == "fail" or case.find("failure") is not None:
            print(verdict(case.get("name"), case.findtext("system-out") or "", suites))
    return 0


if __name__ == "__main__":
    sys.exit(main())
