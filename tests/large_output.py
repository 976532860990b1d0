#!/usr/bin/env python3
"""A listing of 11,000 lines through ferrule.exe under Wine: every line comes
out whole and in order, and the output goes out a block at a time, not a line
at a time. strace counts the writes to the output file: at most one for every
20 lines."""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import transcript  # noqa: E402

LINES_PER_WRITE = 20


def large_machine(adapters=1000, paths=10):
    """A description of that many adapters with that many paths each, and the
    lines a listing of it prints."""
    description, listing = ["class dev"], []
    for a in range(adapters):
        name = "{%08X-0000-4000-8000-%012X}" % (a, a)
        description.append(f'  component {name} "Ethernet Adapter #{a}"')
        listing.append(f"{name} (Ethernet Adapter #{a})")
        for p in range(paths):
            enabled = (a + p) % 3 != 0
            description.append(f'    path "ms_p{p}->{name}" {"enabled" if enabled else "disabled"}')
            listing.append(f"    ms_p{p}->{name}: {int(enabled)}")
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


def main():
    runner = transcript.wine_runner_from_command_line(__doc__)
    description, listing = large_machine()
    with tempfile.TemporaryDirectory() as workdir:
        machine = os.path.join(workdir, "machine.txt")
        with open(machine, "w", encoding="utf-8") as f:
            f.write(description)
        status, output, writes = traced_run(runner, [], machine, workdir)
    problems = []
    if status != 1:
        problems.append(f"exit status {status}, expected 1")
    if output != runner.encode("".join(line + "\r\n" for line in listing)):
        got = output.decode("cp437").split("\r\n")
        first = next((i for i, (a, b) in enumerate(zip(got, listing)) if a != b), min(len(got), len(listing)))
        problems.append(f"the output differs from line {first + 1} on ({len(got) - 1} lines, "
                        f"expected {len(listing)})")
    print(f"{len(listing)} lines in {writes} writes")
    if writes == 0 or writes > len(listing) / LINES_PER_WRITE:
        problems.append(f"expected at most one write for every {LINES_PER_WRITE} lines")
    for problem in problems:
        print("FAIL " + problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
