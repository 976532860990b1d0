#!/usr/bin/env python3
"""A subset of the fault sweep, run through ferrule.exe under Wine: each kind of
call the test server answers fails once, at its first occurrence, in a disable
of every protocol. For each: the line the fault table gives (or no failure line
at all), the exit status, the set-up undone in reverse order, and nothing left
unreleased (the server notes that in its journal as the process ends)."""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import transcript  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
# Wine's own, not the server's: they cannot be made to fail here.
NOT_SCRIPTABLE = {"CoInitializeEx", "StrCmpLogicalW"}
SET_UP = [("CoInitializeEx", "CoUninitialize"), ("CoCreateInstance", "INetCfg.Release"),
          ("INetCfg.QueryInterface", "INetCfgLock.Release"),
          ("INetCfgLock.AcquireWriteLock", "INetCfgLock.ReleaseWriteLock"),
          ("INetCfg.Initialize", "INetCfg.Uninitialize")]


def fault_table():
    table = []
    with open(os.path.join(HERE, "..", "unit", "faults.table"), encoding="utf-8") as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                call, message = line.split(None, 1)
                message = message.strip()
                table.append((call, "" if message == "-" else message))
    return table


def call_name(line):
    name = line.split("(", 1)[0]
    if "[" in name:
        name = name[:name.index("[")] + name[name.index("]") + 1:]
    return name


def reverse_undo_problems(journal):
    """The set-up calls up to the first that failed, then the undo of each that
    succeeded, in reverse. The server sees no CoInitializeEx or CoUninitialize:
    Wine's COM has them."""
    steps = dict(SET_UP[1:])
    names = set(steps) | set(steps.values())
    expected, undo = [], []
    for line in journal:
        name = call_name(line)
        if name not in steps or (name == "INetCfg.QueryInterface" and "IID_INetCfgLock" not in line):
            continue
        expected.append(name)
        if not line.endswith(" = 0"):
            break
        undo.append(steps[name])
    want = expected + undo[::-1]
    got = [call_name(line) for line in journal if call_name(line) in names]
    return [] if got == want else [f"set-up and undo {got}, expected {want}"]


def check(runner, call, message, workdir):
    machine = os.path.join(workdir, "machine.txt")
    with open(os.path.join(HERE, "..", "machines", "small.machine"), encoding="utf-8") as f:
        text = f.read()
    with open(machine, "w", encoding="utf-8") as f:
        f.write(text + f"fail {call} 1 80004005\n")
    status, stdout, _, journal_path = transcript.run_ferrule(runner, ["class", "proto", "disable"], machine, workdir)
    out = stdout.decode("utf-8", "replace")
    with open(journal_path, encoding="utf-8") as f:
        journal = f.read().splitlines()
    problems = []
    failure_lines = [l for l in out.splitlines() if "returned " in l or "failed - error code" in l]
    if message:
        line = message.replace("%d", "0").replace("%x", "80004005")
        if out.count(line + "\n") != 1:
            problems.append(f"expected the line {line!r} once")
        if len(failure_lines) != 1:
            problems.append(f"failure lines: {failure_lines}")
    elif failure_lines:
        problems.append(f"unexpected failure lines: {failure_lines}")
    # A disable fails for every failure it reports, but for a configuration not
    # closed and a path's state not read: neither leaves a path unchanged.
    expected_status = 1 if message and call not in ("INetCfg.Uninitialize", "INetCfgBindingPath.IsEnabled") else 0
    if status != expected_status:
        problems.append(f"exit status {status}, expected {expected_status}")
    # A call whose failure prints nothing shows no fault in the output at all:
    # the server's journal must show that the planted result was returned.
    returned = [l for l in journal if call_name(l) == call and l.endswith(" = 80004005")]
    if len(returned) != 1:
        problems.append(f"the journal shows {call} returning 80004005 {len(returned)} times, expected once")
    problems += reverse_undo_problems(journal)
    problems += [l for l in journal if l.startswith("unreleased:") or l.startswith("violation:")]
    if problems:
        print(f"FAIL fail {call} 1 80004005\n" + out + "\n".join(problems))
    return not problems


def main():
    runner = transcript.wine_runner_from_command_line(__doc__)
    calls = [(c, m) for c, m in fault_table() if c not in NOT_SCRIPTABLE]
    with tempfile.TemporaryDirectory() as workdir:
        results = [check(runner, call, message, workdir) for call, message in calls]
    exe = os.path.join(os.path.basename(os.path.dirname(runner.program)), "ferrule.exe")
    print(f"{len(calls)} faults injected into {exe} under Wine, {results.count(False)} failed")
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
