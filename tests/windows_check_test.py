#!/usr/bin/env python3
"""Runs windows_check.py, the check for a real Windows machine, against ferrule
on a machine description: ferrule.exe under Wine with the test server (or the
stand-in's ferrule). Only the function that asks PowerShell is replaced, by
one that answers from the same description as Get-NetAdapter and
Get-NetAdapterBinding would (and the elevation check, by a row's answer).
Each row: the check's exit status, the lines it must print, the machine's
states as they were before, and no path but the one ms_lltdio path changed."""
import argparse
import collections
import contextlib
import io
import os
import shlex
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import transcript  # noqa: E402
import windows_check  # noqa: E402

FIRST = "{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}"
SECOND = "{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}"
LLTDIO_PATH = f"ms_lltdio->{FIRST}"
APPLY_FAILS = "fail INetCfg.Apply * 80004005"

# platform: how the cmdlets' answer departs from the description: a pair's
# state flipped, a pair added or left out, the adapters' GUIDs written
# otherwise. after_ask: lines added to (+) or
# taken from (-) the description once the platform has been asked N times.
# x86: none, the same machine, or one whose every CoCreateInstance fails.
# put_back: whether the ms_lltdio path ends as it began. edit: a line of the
# description and what replaces it.
Row = collections.namedtuple("Row", "name elevated machine platform after_ask x86 status lines put_back edit",
                             defaults=(True, (), {}, {}, None, 0, (), True, None))
ROWS = [
    Row("every pair agrees, the round trip passes, x86 agrees", x86="same",
        lines=[f"round trip on {LLTDIO_PATH} (enabled: True):",
               f"  ferrule comp {FIRST} path {LLTDIO_PATH} disable: exit status 0",
               f"    |     {LLTDIO_PATH}: 1->0",
               f"  ferrule comp {FIRST} path {LLTDIO_PATH} enable: exit status 1",
               f"    |     {LLTDIO_PATH}: 0->1",
               "windows_check: PASSED: bindings agree, round trip passed, x86 agrees"]),
    Row("paths of other shapes under an adapter are shown, not compared",
        edit=(f'path "ms_lldp->{FIRST}" enabled',
              f'path "ms_lldp->{FIRST}" enabled\n path "ms_server->ms_tcpip->{FIRST}" enabled\n'
              f' path "ms_tcpip->ms_pacer" disabled'),
        lines=["  2 of ferrule's paths are not of the form COMPONENT->{ADAPTER GUID} under their adapter",
               f"    ms_server->ms_tcpip->{FIRST}: 1", "windows_check: PASSED"]),
    Row("one path's state differs", platform={"flip": (SECOND, "ms_tcpip6")}, status=1,
        lines=[f"states differ{' ' * 13} ms_tcpip6->{SECOND}",
               "windows_check: FAILED: bindings disagree, round trip passed, x86 not compared"]),
    Row("a pair that ferrule lacks", platform={"add": (SECOND, "ms_bogus")}, status=1,
        lines=[f"only the platform has it{' ' * 2} ms_bogus->{SECOND}",
               "windows_check: FAILED: bindings disagree"]),
    Row("the GUIDs are written otherwise: no pair matches, and the check says so",
        platform={"guid": lambda guid: guid.strip("{}")}, status=1,
        lines=[f"only the platform has it{' ' * 2} ms_tcpip->{FIRST.strip('{}')}",
               f"only ferrule has it{' ' * 7} ms_tcpip->{FIRST}",
               "  none of the platform's bindings matches a path of ferrule's"]),
    Row("a pair that the platform lacks", platform={"drop": (FIRST, "ms_pacer")}, status=1,
        lines=[f"only ferrule has it{' ' * 7} ms_pacer->{FIRST}", "windows_check: FAILED: bindings disagree"]),
    Row("every apply fails: nothing changes, and the check says so", machine=[APPLY_FAILS], status=1,
        lines=["    | Applying changes ... failed - error code 80004005",
               "  disable: exit status 1, expected 0", "  after the disable, the platform says Enabled=True",
               "round trip: FAILED"]),
    Row("the enable's apply fails: the path is put back", after_ask={3: "+" + APPLY_FAILS, 4: "-" + APPLY_FAILS},
        status=1,
        lines=["  enable: printed ", "  after the enable, the platform says Enabled=False",
               "  put back as it was (enabled: True)",
               "windows_check: FAILED: bindings agree, round trip failed"]),
    Row("every apply fails from the enable on: the check says how to put the path back",
        after_ask={3: "+" + APPLY_FAILS}, status=1, put_back=False,
        lines=["  NOT PUT BACK: the platform says Enabled=False, it was True; put it back with: "
               f"ferrule comp {FIRST} path {LLTDIO_PATH} enable", "round trip: FAILED"]),
    Row("the x86 exe says otherwise: reported, and the check passes", x86="broken",
        lines=["x86: differs from x64 in class dev, client, proto, service (reported only)",
               "windows_check: PASSED: bindings agree, round trip passed, x86 differs in dev, client, proto, service"]),
    Row("not elevated: nothing runs", elevated=False, status=2,
        lines=["windows_check: run this from an elevated prompt (Run as administrator): ferrule needs the "
               "network configuration's write lock; nothing was run"]),
]


def read_machine(path):
    """A description's classes: class -> [(bind name, display name, [(token, enabled)])]."""
    classes, current = collections.defaultdict(list), None
    with open(path, encoding="utf-8") as f:
        for line in f:
            words = shlex.split(line, comments=True)
            if words[:1] == ["class"]:
                current = classes[words[1]]
            elif words[:1] == ["component"]:
                current.append((words[1], words[2] if len(words) > 2 else "", []))
            elif words[:1] == ["path"]:
                current[-1][2].append((words[1], words[2] == "enabled"))
    return classes


class Cmdlets:
    """Get-NetAdapter and Get-NetAdapterBinding on the machine of a description,
    answered as windows_check.ask_platform gets them: ConvertTo-Json's text."""

    def __init__(self, machine, platform, after_ask):
        self.machine, self.platform, self.after_ask, self.asked = machine, platform, after_ask, 0

    def __call__(self):
        classes = read_machine(self.machine)
        display = {bind: name for components in classes.values() for bind, name, _ in components}
        adapters, bindings = [], []
        for number, (guid, description, paths) in enumerate(classes["dev"], 1):
            name = "Ethernet" if number == 1 else f"Ethernet {number}"
            adapters.append({"Name": name, "InterfaceDescription": description,
                             "InterfaceGuid": self.platform.get("guid", str)(guid)})
            # The cmdlet gives the components bound to the adapter itself.
            pairs = [(token.split("->")[0], enabled) for token, enabled in paths if token.endswith("->" + guid)
                     and token.count("->") == 1]
            if self.platform.get("add", (None,))[0] == guid:
                pairs.append((self.platform["add"][1], True))
            for component, enabled in pairs:
                if self.platform.get("drop") == (guid, component):
                    continue
                flip = self.platform.get("flip") == (guid, component)
                bindings.append({"Name": name, "InterfaceDescription": description, "ComponentID": component,
                                 "DisplayName": display.get(component, component), "Enabled": enabled != flip})
        self.asked += 1
        change = self.after_ask.get(self.asked)
        if change:
            (transcript.add_lines if change[0] == "+" else transcript.remove_lines)(self.machine, [change[1:]])
        return windows_check.json.dumps({"Adapters": adapters, "Bindings": bindings}, indent=4)


def write_starter(path, runner_arguments, machine, journals):
    """A program that starts ferrule as the check would start ferrule.exe on
    Windows, on this machine, each run with a journal of its own: this script
    again, with --start."""
    command = [sys.executable, os.path.abspath(__file__), "--start", machine, journals] + runner_arguments
    with open(path, "w", encoding="utf-8") as f:
        f.write(f'#!/bin/sh\nexec {shlex.join(command)} -- "$@"\n')
    os.chmod(path, 0o755)
    return path


def start(runner, machine, journals, arguments):
    """One run of ferrule for the check: its output as the program wrote it, and its exit status."""
    journal = os.path.join(journals, f"journal-{os.getpid()}.txt")
    with contextlib.redirect_stdout(sys.stderr):  # a note that a run is made again is not ferrule's output
        status, stdout, _ = transcript.run_started(runner, arguments, machine, journal)
    sys.stdout.buffer.write(stdout)
    return status


def states(machine):
    return {token: enabled for components in read_machine(machine).values() for _, _, paths in components
            for token, enabled in paths}


def changed_paths(journals):
    """Every path that any run asked to enable or disable."""
    paths = set()
    for name in os.listdir(journals):
        if name.startswith("journal-"):
            with open(os.path.join(journals, name), encoding="utf-8", errors="replace") as f:
                paths |= {line.split("[", 1)[1].split("]", 1)[0] for line in f
                          if line.startswith("INetCfgBindingPath[") and "].Enable(" in line}
    return paths


def check(row, runner_arguments, workdir):
    machine = os.path.join(workdir, "machine.txt")
    with open(transcript.SAMPLE, encoding="utf-8") as f:
        text = f.read()
    if row.edit:
        text = text.replace(*row.edit)
    with open(machine, "w", encoding="utf-8") as f:
        f.write(text + "".join(line + "\n" for line in row.machine))
    before = states(machine)
    journals = os.path.join(workdir, "journals")
    os.mkdir(journals)
    arguments = [write_starter(os.path.join(workdir, "ferrule"), runner_arguments, machine, journals)]
    if row.x86:
        x86_machine = os.path.join(workdir, "x86.machine.txt")
        shutil.copy(machine, x86_machine)
        if row.x86 == "broken":
            transcript.add_lines(x86_machine, ["fail CoCreateInstance * 80040154"])
        arguments += ["--x86", write_starter(os.path.join(workdir, "x86"), runner_arguments, x86_machine, journals)]
    cmdlets = Cmdlets(machine, row.platform, row.after_ask)
    windows_check.ask_platform, windows_check.is_elevated = cmdlets, lambda: row.elevated
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        status = windows_check.main(arguments)
    out = printed.getvalue()
    problems = [f"exit status {status}, expected {row.status}"] if status != row.status else []
    problems += [f"no line that begins {line!r}" for line in row.lines
                 if not any(printed.startswith(line) for printed in out.splitlines())]
    if not row.put_back:
        before[LLTDIO_PATH] = False
    if states(machine) != before:
        problems.append("the machine's states are not as " + ("they were" if row.put_back else "expected"))
    touched = changed_paths(journals)
    if touched - {LLTDIO_PATH}:
        problems.append(f"paths changed besides {LLTDIO_PATH}: {sorted(touched - {LLTDIO_PATH})}")
    if not row.elevated and (os.listdir(journals) or cmdlets.asked):
        problems.append("not elevated, yet it ran ferrule or asked the platform")
    print(f"{'FAIL' if problems else 'ok  '} {row.name}")
    if problems:
        print(out + "\n".join("  " + p for p in problems))
    return not problems


def main():
    argv = sys.argv[1:]
    own, ferrule_arguments = (argv[:argv.index("--")], argv[argv.index("--") + 1:]) if "--" in argv else (argv, [])
    parser = argparse.ArgumentParser(description=__doc__)
    transcript.add_runner_arguments(parser)
    parser.add_argument("--start", nargs=2, metavar=("MACHINE", "JOURNALS"),
                        help="run ferrule once with the arguments after --, as the check's exe")
    args = parser.parse_args(own)
    if args.start:
        sys.exit(start(transcript.runner_from_arguments(args), *args.start, ferrule_arguments))
    runner_arguments = [word for name in ("ferrule", "wine", "prefix") if getattr(args, name)
                        for word in (f"--{name}", os.path.abspath(getattr(args, name)))]
    results = []
    for row in ROWS:
        with tempfile.TemporaryDirectory() as workdir:
            results.append(check(row, runner_arguments, workdir))
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
