#!/usr/bin/env python3
"""tools/stages: which stage a test is of, and when tools/test's summary fails
the run, on what CMake and CTest would have written."""

import importlib.machinery
import json
import os
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "stages")
stages = importlib.machinery.SourceFileLoader("stages", TOOL).load_module()

# One test of each stage, as CMake sets them up.
TESTS = {"fuzz.session (sanitizers)": "sanitizers", "transcript.usage": "native", "wine.x64.units": "x64 Wine",
         "wine.x86.units": "x86 Wine", "module.pester": "PowerShell", "wine.x86.prefix": "fixture"}
RAN = {name: ("run", 2.0) for name in TESTS}
UNSERVED = "wine32:i386 needs wine32, which Debian's lists here serve at no one version for both amd64 and i386"


def without(stage):
    return {name: result for name, result in RAN.items() if TESTS[name] != stage}


class Stage(unittest.TestCase):
    ROWS = [("wine.x86.fault_subset", ["wine", "ferrule.exe"], "x86 Wine"),
            ("wine.x64.module", ["wine", "ferrule.exe", "powershell"], "x64 Wine"),
            ("bench.smoke", ["wine", "bench"], "x64 Wine"),
            ("examples.readme", ["powershell"], "PowerShell"),
            ("windows.exe.x86", ["windows"], "native")]

    def test_rows(self):
        for name, labels, stage in self.ROWS:
            with self.subTest(name=name):
                self.assertEqual(stages.stage_of(name, labels), stage)


    def test_fixtures_are_of_no_stage(self):
        shown = {"tests": [{"name": "wine.x86.prefix", "properties": [
            {"name": "FIXTURES_SETUP", "value": ["wine_server_x86"]}, {"name": "LABELS", "value": ["wine"]}]},
            {"name": "wine.x86.units", "properties": [{"name": "LABELS", "value": ["wine", "ferrule.exe"]}]}]}
        self.assertEqual(stages.read_tests(json.dumps(shown)), {"wine.x86.prefix": "fixture", "wine.x86.units": "x86 Wine"})


class Summary(unittest.TestCase):
    # (what ran, what CMake left out, stages left out on request, passes, last line)
    ROWS = [
        ("all", RAN, [], [], True, "Every stage ran in full."),
        ("x86 missing", without("x86 Wine"), [("x86 Wine", "missing", "32-bit Wine does not run here")], [], False,
         "FAILED: a stage did not run in full (above)"),
        ("x86 unserved", without("x86 Wine"), [("x86 Wine", "unserved", UNSERVED)], [], True,
         "THE X86 WINE STAGE WAS NOT RUN: " + UNSERVED),
        ("unserved, yet ran", RAN, [("x86 Wine", "unserved", UNSERVED)], [], False,
         f"FAILED: Debian serves no 32-bit Wine here ({UNSERVED}), yet x86 Wine tests ran"),
        ("a stage with no test", without("PowerShell"), [], [], False, "FAILED: a stage did not run in full (above)"),
        ("a check left out", RAN, [("native", "missing", "clang-format missing")], [], False,
         "FAILED: a stage did not run in full (above)"),
        ("only skipped", {**RAN, "module.pester": ("notrun", 0.0)}, [], [], False,
         "FAILED: a stage did not run in full (above)"),
        ("asked", without("sanitizers"), [], ["sanitizers"], True,
         "Every stage ran in full but those left out on request: sanitizers"),
        ("only its fixture ran", {**RAN, "wine.x86.units": ("notrun", 0.0)}, [], [], False,
         "FAILED: a stage did not run in full (above)"),
        ("a test failed", {**RAN, "transcript.usage": ("fail", 1.0)}, [], [], False, "FAILED: 1 tests failed"),
    ]

    def test_rows(self):
        for case, results, left_out, asked, passes, last in self.ROWS:
            with self.subTest(case=case):
                lines, passed = stages.summarize(TESTS, results, left_out, asked)
                self.assertEqual((passed, lines[-1]), (passes, last), "\n".join(lines))

    def test_names_the_stage_and_why(self):
        lines, _ = stages.summarize(TESTS, without("x86 Wine"), [("x86 Wine", "missing", "no qemu-user")], [])
        self.assertIn("  x86 Wine:       0 tests in     0.0 s -- NOT RUN in full: no qemu-user", lines)
        lines, _ = stages.summarize(TESTS, {**RAN, "transcript.usage": ("fail", 1.5)}, [], [])
        self.assertIn("  native:         1 tests in     1.5 s (1 failed)", lines)


class LeaveOut(unittest.TestCase):
    def test_words(self):
        self.assertEqual(stages.leave_out_words("x86 sanitizers"), ["x86 Wine", "sanitizers"])
        with self.assertRaises(SystemExit):
            stages.leave_out_words("x68")


if __name__ == "__main__":
    unittest.main()
