#!/usr/bin/env python3
"""The README's cmd examples, run as written by Wine's cmd against ferrule.exe
with the test server, ferrule.exe found on the PATH: each on a machine of its
own, which a row changes. Each row: a line the example must print, and the
paths that must have changed."""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "runners"))
import transcript  # noqa: E402

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")
GUID = "{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}"
IPV6 = f'path "ms_tcpip6->{GUID}" enabled'

# (example, what the row is, description lines to replace, lines to add, a line it must print, paths changed)
ROWS = [
    ("cmd-quick-start", "lists, then unbinds IPv6 from one adapter", {}, [], f"    ms_tcpip6->{GUID}: 1->0",
     [f'path "ms_tcpip6->{GUID}" disabled']),
    ("cmd-ipv6-bound", "the path enabled", {}, [], f"IPv6 is bound to {GUID}", []),
    ("cmd-ipv6-bound", "the path disabled", {IPV6: IPV6.replace("enabled", "disabled")}, [],
     f"IPv6 is not bound to {GUID}", []),
    ("cmd-ipv6-bound", "the lock refused", {}, ["fail INetCfgLock.AcquireWriteLock * 80070005"],
     "ferrule could not tell:", []),
    ("cmd-ipv6-bound", "the adapter absent", {IPV6: ""}, [], "ferrule could not tell:", []),
]


def example(name):
    with open(README, encoding="utf-8") as f:
        found = re.findall(r"<!-- example: " + re.escape(name) + r" -->\n```bat\n(.*?)```", f.read(), re.S)
    if len(found) != 1:
        raise SystemExit(f"README: {len(found)} cmd examples named {name}")
    return found[0]


def paths(machine):
    with open(machine, encoding="utf-8") as f:
        return [line.strip() for line in f if line.strip().startswith("path ")]


def check(runner, row, workdir):
    name, what, replace, extra, must_print, changed = row
    machine = os.path.join(workdir, "machine.txt")
    with open(transcript.SAMPLE, encoding="utf-8") as f:
        text = f.read()
    for old, new in replace.items():
        text = text.replace(old, new)
    with open(machine, "w", encoding="utf-8") as f:
        f.write(text + "".join(line + "\n" for line in extra))
    before = paths(machine)
    script = os.path.join(workdir, "example.bat")
    with open(script, "w", encoding="ascii", newline="\r\n") as f:
        f.write(example(name))
    env = runner.environment(machine, os.path.join(workdir, "journal.txt"))
    # ferrule.exe, and find.exe with the /i that Wine's find lacks, from the build.
    env["WINEPATH"] = transcript.windows_path(os.path.dirname(runner.program))
    status, stdout, stderr = transcript.run_program([runner.wine, "cmd", "/c", transcript.windows_path(script)], env)
    out = stdout.decode("cp437", "replace").replace("\r\n", "\n")
    now = paths(machine)
    problems = []
    if must_print not in out.splitlines():
        problems.append(f"no line {must_print!r}")
    if [line for line in now if line not in before] != changed:
        problems.append(f"changed {[line for line in now if line not in before]}, expected {changed}")
    print(f"{'FAIL' if problems else 'ok  '} {name}: {what}")
    if problems:
        print(out + "\n".join("  " + p for p in problems))
    return not problems


def main():
    runner = transcript.wine_runner_from_command_line(__doc__)
    results = []
    for row in ROWS:
        with tempfile.TemporaryDirectory() as workdir:
            results.append(check(runner, row, workdir))
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
