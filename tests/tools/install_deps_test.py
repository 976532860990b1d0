#!/usr/bin/env python3
"""tools/multiarch-install's choices, on apt's answers recorded in apt/ (the
policy of each architecture's twin, a simulated install), and its seam, on
this machine's own apt: with FERRULE_WINE32_UNSERVED=1 it installs nothing,
says why, and leaves the reason for tools/test."""

import importlib.machinery
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "..", "tools", "multiarch-install")
tool = importlib.machinery.SourceFileLoader("multiarch_install", TOOL).load_module()


def recorded(name):
    with open(os.path.join(HERE, "apt", name), encoding="utf-8") as answer:
        return answer.read()


class Choice(unittest.TestCase):
    # (recording, package, installed amd64 version, apt-get arguments, downgrades, unserved)
    ROWS = [
        ("ahead.policy", "libgstreamer-plugins-base1.0-0", "1.22.0-3+deb12u7",
         ["libgstreamer-plugins-base1.0-0:amd64=1.22.0-3+deb12u6", "libgstreamer-plugins-base1.0-0:i386=1.22.0-3+deb12u6"],
         ["libgstreamer-plugins-base1.0-0"], []),
        ("agree.policy", "zlib1g", "1:1.2.13.dfsg-1", ["zlib1g:i386=1:1.2.13.dfsg-1"], [], []),
        # Backports serve both at a newer version, at a priority that apt would not take.
        ("backports.policy", "libcom-err2", "1.47.0-2",
         ["libcom-err2:amd64=1.47.0-2+b2", "libcom-err2:i386=1.47.0-2+b2"], [], []),
        ("none.policy", "libgstreamer-plugins-base1.0-0", "1.22.0-3+deb12u7", [], [], ["libgstreamer-plugins-base1.0-0"]),
        # No native twin installed: apt may take the foreign package's own candidate.
        ("ahead.policy", "libgstreamer-plugins-base1.0-0", None, [], [], []),
    ]

    def test_rows(self):
        for name, package, have, arguments, downgrades, unserved in self.ROWS:
            with self.subTest(name=name, installed=have):
                served = tool.read_policy(recorded(name), "amd64")
                installed = {(package, "amd64"): have} if have else {}
                plan = tool.plan([package], ("amd64", "i386"), installed, served, tool.compare_versions)
                self.assertEqual(plan, (arguments, downgrades, unserved))


class Tied(unittest.TestCase):
    # A package built from a moved-back twin's source at its version goes back with it; one of
    # another version, or of a version not served, is left to the simulation to refuse.
    SOURCES = {("libgstreamer-plugins-base1.0-0", "amd64"): ("1.22.0-3+deb12u7", "gst-plugins-base1.0"),
               ("gir1.2-gst-plugins-base-1.0", "amd64"): ("1.22.0-3+deb12u7", "gst-plugins-base1.0"),
               ("libgstreamer-plugins-base1.0-dev", "amd64"): ("1.22.0-3+deb12u7", "gst-plugins-base1.0"),
               ("gstreamer1.0-plugins-base", "amd64"): ("1.22.0-3+deb12u5", "gst-plugins-base1.0"),
               ("zlib1g", "amd64"): ("1:1.2.13.dfsg-1", "zlib")}

    def test_follows_its_twin(self):
        served = tool.read_policy(recorded("ahead.policy"), "amd64")
        served[("gir1.2-gst-plugins-base-1.0", "amd64")] = {"1.22.0-3+deb12u6": 500, "1.22.0-3+deb12u7": 500}
        served[("libgstreamer-plugins-base1.0-dev", "amd64")] = {"1.22.0-3+deb12u7": 500}
        served[("gstreamer1.0-plugins-base", "amd64")] = {"1.22.0-3+deb12u6": 500}
        pinned = ["libgstreamer-plugins-base1.0-0:amd64=1.22.0-3+deb12u6",
                  "libgstreamer-plugins-base1.0-0:i386=1.22.0-3+deb12u6"]
        self.assertEqual(tool.tied(["libgstreamer-plugins-base1.0-0"], pinned, self.SOURCES, "amd64", served),
                         (["gir1.2-gst-plugins-base-1.0:amd64=1.22.0-3+deb12u6"], ["gir1.2-gst-plugins-base-1.0"]))


class Simulation(unittest.TestCase):
    # (recording, downgrades asked for, why it is refused or None)
    ROWS = [
        ("pinned.simulation", ["libgstreamer-plugins-base1.0-0"], None),
        ("pinned.simulation", [], "it would move back libgstreamer-plugins-base1.0-0:amd64, which no pair needs"),
        ("removes.simulation", [], "it would remove python3-dev, libexpat1-dev"),
        ("moves-back.simulation", ["libgstreamer-plugins-base1.0-0"],
         "it would move back libexpat1:amd64, which no pair needs"),
    ]

    def test_rows(self):
        for name, downgrades, why in self.ROWS:
            with self.subTest(name=name, downgrades=downgrades):
                removed, moved_back = tool.read_simulation(recorded(name), "amd64", tool.compare_versions)
                self.assertEqual(tool.check_simulation(removed, moved_back, downgrades, "amd64"), why)


class Seam(unittest.TestCase):
    def test_unserved_wine32_installs_nothing_and_says_why(self):
        with tempfile.TemporaryDirectory() as work:
            note = os.path.join(work, "note")
            run = subprocess.run([sys.executable, TOOL, "--note", note, "wine32:i386"], capture_output=True,
                                 text=True, env=dict(os.environ, FERRULE_WINE32_UNSERVED="1"), timeout=300)
            self.assertEqual(run.returncode, tool.NOT_SERVED, run.stdout + run.stderr)
            self.assertIn("apt-cache policy wine32:amd64 wine32:i386:", run.stdout)
            self.assertNotIn("apt-get", run.stdout)
            with open(note, encoding="utf-8") as written:
                self.assertEqual(written.read(), "FERRULE_WINE32_UNSERVED=1: install-deps acted as if no list served "
                                                 "wine32:i386\n")


if __name__ == "__main__":
    unittest.main()
