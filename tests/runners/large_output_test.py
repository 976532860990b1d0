#!/usr/bin/env python3
"""A listing of 11,000 lines through ferrule.exe under Wine: every line comes
out whole and in order, and the output goes out a block at a time, not a line
at a time. strace counts the writes to the output file: at most one for every
20 lines. With --console, a listing of 550 lines on a console, whole. Either
listing ends in a block of one character, the last line's LF."""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import transcript  # noqa: E402

LINES_PER_WRITE = 20


def large_machine(adapters=1000, paths=10, block=8192):
    """A description of that many adapters with that many paths each, and the
    lines a listing of it prints. A last component, whose display name pads
    the listing, leaves one character (CR LF line ends) for the last block."""
    description, listing = ["class dev"], []
    for a in range(adapters):
        name = "{%08X-0000-4000-8000-%012X}" % (a, a)
        description.append(f'  component {name} "Ethernet Adapter #{a}"')
        listing.append(f"{name} (Ethernet Adapter #{a})")
        for p in range(paths):
            enabled = (a + p) % 3 != 0
            description.append(f'    path "ms_p{p}->{name}" {"enabled" if enabled else "disabled"}')
            listing.append(f"    ms_p{p}->{name}: {int(enabled)}")
    length = sum(len(line) + 2 for line in listing) + len("ms_pad ()\r\n")
    pad = "x" * ((1 - length) % block)
    description.append(f'  component ms_pad "{pad}"')
    listing.append(f"ms_pad ({pad})")
    return "\n".join(description) + "\n", listing


def writes_to(trace, path):
    """How many write calls strace -y saw on the file at path."""
    pattern = re.compile(r"write\(\d+<" + re.escape(path) + r">")
    with open(trace, encoding="utf-8", errors="replace") as f:
        return sum(1 for line in f if pattern.search(line))


def unjournalled_environment(runner, machine, workdir):
    """The environment of a run on the large machine, without the journal:
    its 20,000 calls are not what is checked or measured."""
    env = runner.environment(machine, os.path.join(workdir, "journal.txt"))
    del env["STANDIN_JOURNAL"]
    return env


def traced_run(runner, arguments, machine, workdir):
    """Runs ferrule.exe under strace with its output in a file: the exit
    status, the output, and how many writes it took."""
    output, trace = os.path.join(workdir, "output.txt"), os.path.join(workdir, "trace.txt")
    env = unjournalled_environment(runner, machine, workdir)
    command = ["strace", "-f", "-y", "-s", "0", "-e", "trace=write", "-o", trace] + runner.command(arguments)
    with open(output, "wb") as out:
        status = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                                env=env, timeout=300).returncode
    with open(output, "rb") as f:
        return status, f.read(), writes_to(trace, output)


def check_console(runner, machine, workdir, listing):
    status, output, _, _ = transcript.run_ferrule(runner, [], machine, workdir)
    expected = "".join(line + "\n" for line in listing).encode("utf-8")
    return status, output == expected, None


def check_file(runner, machine, workdir, listing):
    status, output, writes = traced_run(runner, [], machine, workdir)
    return status, output == runner.encode("".join(line + "\r\n" for line in listing)), writes


def main():
    runner = transcript.wine_runner_from_command_line(__doc__)
    console = isinstance(runner, transcript.Console)
    description, listing = large_machine(adapters=50 if console else 1000)
    with tempfile.TemporaryDirectory() as workdir:
        machine = os.path.join(workdir, "machine.txt")
        with open(machine, "w", encoding="utf-8") as f:
            f.write(description)
        status, whole, writes = (check_console if console else check_file)(runner, machine, workdir, listing)
    problems = []
    if status != 1:
        problems.append(f"exit status {status}, expected 1")
    if not whole:
        problems.append(f"the output is not the {len(listing)} lines of the listing, byte for byte")
    if writes is not None:
        print(f"{len(listing)} lines in {writes} writes")
        if writes == 0 or writes > len(listing) / LINES_PER_WRITE:
            problems.append(f"expected at most one write for every {LINES_PER_WRITE} lines")
    for problem in problems:
        print("FAIL " + problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
