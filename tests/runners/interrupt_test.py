#!/usr/bin/env python3
"""Stops asked while ferrule works, natively or through ferrule.exe under Wine.
Each row delays one call and sends its signals once the journal shows that
call has begun. The run must finish the component in hand (in a change mode,
up to its apply's outcome), fetch no further component, tear everything down,
write out every line it printed, and exit with the status of a stopped run:
natively 128 plus the first signal's number; under Wine, where SIGINT arrives
in the program as Ctrl+C (and SIGTERM and SIGHUP reach it as nothing at all),
58, the Unix status of STATUS_CONTROL_C_EXIT. Nothing may be left behind, and
the description must hold exactly what was applied.

With --events, the console handler's answer to each control event, which Wine
cannot send: console_events.exe hands it one event at a time."""
import argparse
import collections
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import transcript  # noqa: E402
import fault_subset_test  # noqa: E402

MACHINE = """class proto
  component ms_alpha "Alpha Protocol"
    path "ms_server->ms_alpha" enabled
    path "ms_msclient->ms_alpha" disabled
  component ms_beta "Beta Protocol"
    path "ms_server->ms_beta" enabled
  component ms_gamma "Gamma Protocol"
    path "ms_server->ms_gamma" enabled
"""
DELAY_MS = 4000
DISABLE = ["class", "proto", "disable"]
ALPHA_DISABLED = ["ms_alpha (Alpha Protocol)", "    ms_server->ms_alpha: 1->0", "    ms_msclient->ms_alpha: 0->0",
                  "Applying changes ... "]
ALPHA_APPLIED = ALPHA_DISABLED[:-1] + ["Applying changes ... success"]
UNCHANGED = {"ms_msclient->ms_alpha"}  # the paths disabled to begin with
ALPHA_OFF = UNCHANGED | {"ms_server->ms_alpha"}

ALL_APPLIED = ALPHA_APPLIED + ["ms_beta (Beta Protocol)", "    ms_server->ms_beta: 1->0", "Applying changes ... success",
                               "ms_gamma (Gamma Protocol)", "    ms_server->ms_gamma: 1->0",
                               "Applying changes ... success"]

# The moment (the call that is delayed, with its occurrence), the command line,
# the signals, the lines printed when the signals are sent (when the program
# must have written them out by then), all the lines, how many components
# were fetched, and the paths disabled afterwards. Some rows are for the
# stand-in alone; one starts the program as nohup does, ignoring SIGHUP, which
# then stops nothing.
Row = collections.namedtuple("Row", "moment arguments signals before lines fetched disabled wine nohup",
                             defaults=(True, False))
ROWS = [
    Row("INetCfg.Apply", DISABLE, ["SIGINT"], ALPHA_DISABLED, ALPHA_APPLIED, 1, ALPHA_OFF),
    Row("INetCfg.Apply", DISABLE, ["SIGINT"] * 3, ALPHA_DISABLED, ALPHA_APPLIED, 1, ALPHA_OFF),
    Row("INetCfg.Apply", DISABLE, ["SIGTERM", "SIGINT"], ALPHA_DISABLED, ALPHA_APPLIED, 1, ALPHA_OFF, wine=False),
    Row("INetCfg.Apply", DISABLE, ["SIGHUP"], ALPHA_DISABLED, ALPHA_APPLIED, 1, ALPHA_OFF, wine=False),
    Row("INetCfg.Apply", DISABLE, ["SIGHUP"], ALPHA_DISABLED, ALL_APPLIED, 4,
        ALPHA_OFF | {"ms_server->ms_beta", "ms_server->ms_gamma"}, wine=False, nohup=True),
    Row("INetCfgBindingPath.IsEnabled 3", ["class", "proto"], ["SIGINT"], None,
        ["ms_alpha (Alpha Protocol)", "    ms_server->ms_alpha: 1", "    ms_msclient->ms_alpha: 0",
         "ms_beta (Beta Protocol)", "    ms_server->ms_beta: 1"], 2, UNCHANGED),
    Row("INetCfgLock.AcquireWriteLock", DISABLE, ["SIGINT"], None, ["lock->AcquireWriteLock() returned 1"], 0,
        UNCHANGED),
    Row("INetCfg.Initialize", DISABLE, ["SIGINT"], None, [], 0, UNCHANGED),
]

# What the console handler does with each event: its result, or "held" when
# it does not return (Windows would end the process as soon as it did); and
# whether a stop is asked.
EVENTS = [
    ("CTRL_C_EVENT", 0, "returned 1", 1),
    ("CTRL_BREAK_EVENT", 1, "returned 1", 1),
    ("CTRL_CLOSE_EVENT", 2, "held", 1),
    ("CTRL_LOGOFF_EVENT", 5, "returned 1", 0),
    ("CTRL_SHUTDOWN_EVENT", 6, "held", 1),
    ("an event of some later Windows", 7, "returned 0", 0),
]


def disabled_paths(machine):
    with open(machine, encoding="utf-8") as f:
        return set(re.findall(r'^\s*path "(.*)" disabled$', f.read(), re.M))


def wait_for(process, journal, line):
    while not (os.path.exists(journal) and line in open(journal, encoding="utf-8").read()):
        if process.poll() is not None:
            return False
        time.sleep(0.02)
    return True


def wait_until_delivered(process, number):
    """Waits while the signal is pending for the process (or any of its threads)."""
    bit = 1 << (number - 1)
    for _ in range(1000):
        try:
            with open(f"/proc/{process.pid}/status", encoding="ascii") as f:
                masks = dict(line.split(":", 1) for line in f if line.startswith(("SigPnd", "ShdPnd")))
        except OSError:
            return
        if process.poll() is not None or not any(int(mask, 16) & bit for mask in masks.values()):
            return
        time.sleep(0.01)


def check_row(runner, row, workdir):
    call, _, occurrence = row.moment.partition(" ")
    machine, journal = os.path.join(workdir, "machine.txt"), os.path.join(workdir, "journal.txt")
    output = os.path.join(workdir, "output.txt")
    extra = f"delay {call} {occurrence or 1} {DELAY_MS}\n"
    if call == "INetCfgLock.AcquireWriteLock":
        extra += 'lock "Windows Settings"\n'  # the time-out passes while another program keeps the lock
    with open(machine, "w", encoding="utf-8") as f:
        f.write(MACHINE + extra)
    if os.path.exists(journal):
        os.remove(journal)
    problems = []
    with open(output, "wb") as out:
        command = (["nohup"] if row.nohup else []) + runner.command(row.arguments)
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.DEVNULL, env=runner.environment(machine, journal))
        if not wait_for(process, journal, f"delay: {call} waits"):
            problems.append(f"the run ended (status {process.returncode}) before {call} began")
        for name in row.signals:
            process.send_signal(getattr(signal, name))
            # Signals pending together are delivered lowest number first,
            # whatever order they were sent in: the next is sent once this
            # one has been delivered.
            wait_until_delivered(process, getattr(signal, name))
        if row.before is not None:
            with open(output, "rb") as f:
                so_far = runner.normalise(f.read())
            if so_far != runner.encode("\n".join(row.before)):
                problems.append(f"by then it had written {so_far!r}, expected {row.before!r}")
        status = process.wait(timeout=120)
    with open(output, "rb") as f:
        printed = runner.normalise(f.read())
    with open(journal, encoding="utf-8") as f:
        calls = f.read().splitlines()
    stopped = 58 if isinstance(runner, transcript.Wine) else 128 + getattr(signal, row.signals[0])
    if row.nohup:
        stopped = 0
    if status != stopped:
        problems.append(f"exit status {status}, expected {stopped}")
    if printed != runner.encode("".join(line + "\n" for line in row.lines)):
        problems.append(f"printed {printed!r}")
    got = sum(1 for line in calls if line.startswith("IEnumNetCfgComponent") and ".Next(" in line)
    if got != row.fetched:
        problems.append(f"{got} components fetched, expected {row.fetched}")
    problems += fault_subset_test.reverse_undo_problems(calls)
    problems += [line for line in calls if line.startswith(("unreleased:", "violation:"))]
    if disabled_paths(machine) != row.disabled:
        problems.append(f"disabled afterwards: {sorted(disabled_paths(machine))}, expected {sorted(row.disabled)}")
    name = (f"{' '.join(row.signals)} while {row.moment} waits, in: {'nohup ' if row.nohup else ''}ferrule "
            f"{' '.join(row.arguments)}")
    print(("ok " if not problems else "FAIL ") + name)
    for problem in problems:
        print("  " + problem)
    return not problems


def check_event(runner, events_exe, event, workdir):
    name, number, answer, stop = event
    env = runner.environment(os.path.join(workdir, "machine.txt"), os.path.join(workdir, "journal.txt"))
    result = subprocess.run([runner.wine, events_exe, str(number)], stdin=subprocess.DEVNULL,
                            capture_output=True, env=env, timeout=120)
    expected = f"{answer}\r\nstop asked {stop}\r\n".encode()
    ok = result.stdout == expected
    print(("ok " if ok else "FAIL ") + f"{name}: {answer}, stop asked {stop}" +
          ("" if ok else f"; got {result.stdout!r}, status {result.returncode}"))
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    transcript.add_runner_arguments(parser)
    parser.add_argument("--events", help="console_events.exe, to hand the console handler each event")
    args = parser.parse_args()
    runner = transcript.runner_from_arguments(args)
    with tempfile.TemporaryDirectory() as workdir:
        results = [check_row(runner, row, workdir) for row in ROWS if row.wine or not args.wine]
        if args.events:
            results += [check_event(runner, args.events, event, workdir) for event in EVENTS]
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
