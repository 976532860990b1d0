#!/usr/bin/env python3
"""Measures ferrule and prints the tables of BENCHMARKS.md.

1. The whole walk on the stand-in, for machines of growing size: instructions
   counted by callgrind (repeatable on a shared machine), per handled path, in a
   listing and in a disable; and the heap the walk needs beyond the machine.
2. Whole processes under Wine: ferrule.exe listing the sample machine, against
   two exes built the same way: one that does nothing, and one that only
   activates the configuration object. Wall-clock times, interleaved runs.
3. Output under Wine: the listing of a machine of 11,000 lines, to a file,
   against the same walk printing only the 1,000 headings (path zzz), in
   paired runs; and the writes that the listing takes (strace). With --before,
   an earlier ferrule.exe is measured beside this one.
4. The PowerShell module (bench/module.ps1): its listing against ferrule.exe's,
   drift with a few rules and with a saved listing, and a change.

Every row checks that the work it timed succeeded (its exit status and its
lines, or its objects): a row that measured a failure ends the run with an
error that names it, and a non-zero status. With --smoke, every table is made
at its smallest size, one run each: not to measure, but to show that every
row still measures something.
"""
import argparse
import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "runners"))
import large_output_test as large_output  # noqa: E402
import transcript  # noqa: E402
SIZES = [10, 1000, 100000]


class RowFailed(Exception):
    """A row whose timed work did not succeed: its figures would be void."""


def check(row, ok, why):
    if not ok:
        raise RowFailed(f"{row}: {why}")


def callgrind(measure, paths, mode):
    out = f"/tmp/ferrule-callgrind.{os.getpid()}"
    result = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                             "--toggle-collect=walkComponents*", measure, str(paths), mode],
                            capture_output=True, text=True)
    if os.path.exists(out):
        os.remove(out)
    row = f"the walk of {paths} paths, {mode}"
    check(row, result.returncode == 0, f"ferrule_measure exited {result.returncode}: {result.stderr.strip()[-300:]}")
    found = [re.search(pattern, result.stderr) for pattern in
             (r"Collected : (\d+)", r"walk_peak_bytes (\d+)", r"machine_bytes (\d+)")]
    check(row, all(found), "callgrind or ferrule_measure did not say what it counted")
    instructions, peak, machine = (int(one.group(1)) for one in found)
    check(row, instructions > 0, "no instruction was counted")
    return instructions, peak, machine


def walk_table(measure, sizes):
    print("| Paths | Mode | Instructions | Instructions per path | Heap for the walk (bytes) | Machine in memory (bytes) |")
    print("|---:|---|---:|---:|---:|---:|")
    per_path = {}
    for mode in ["query", "disable"]:
        for paths in sizes:
            instructions, peak, machine = callgrind(measure, paths, mode)
            per_path[(mode, paths)] = instructions / paths
            print(f"| {paths:,} | {mode} | {instructions:,} | {instructions / paths:,.0f} | {peak:,} | {machine:,} |",
                  flush=True)
    if len(sizes) < 3:
        return
    for mode in ["query", "disable"]:
        growth = per_path[(mode, sizes[2])] / per_path[(mode, sizes[1])] - 1
        print(f"\n{mode}: instructions per path change by {growth:+.2%} from {sizes[1]:,} to {sizes[2]:,} paths.")


def cpu_of_children():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def wine_table(wine, prefix, folder, machine, runs):
    env = dict(os.environ, WINEPREFIX=os.path.abspath(prefix), WINEDEBUG="-all",
               STANDIN_MACHINE="Z:" + os.path.abspath(machine).replace("/", "\\"))
    ferrule = os.path.join(folder, "ferrule.exe")
    # Each program with the exit status and the number of lines of a run that did its work.
    programs = [
        ("null.exe (does nothing)", [os.path.join(folder, "null.exe")], 0, 0),
        ("activate.exe (activates the configuration object)", [os.path.join(folder, "activate.exe")], 0, 0),
        ("ferrule.exe bogus (usage error)", [ferrule, "bogus"], 255, 1),
        ("ferrule.exe class proto comp ms_none (walks, prints nothing)", [ferrule, "class", "proto", "comp", "ms_none"],
         0, 0),
        ("ferrule.exe class proto (walks 7 components and 8 paths, prints 15 lines)", [ferrule, "class", "proto"], 1, 15),
        ("ferrule.exe (walks 2 adapters and 18 paths, prints 20 lines)", [ferrule], 1, 20),
    ]
    quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _, command, _, _ in programs:  # warm the file cache
        subprocess.run([wine] + command, **quiet)
    wall = {name: [] for name, _, _, _ in programs}
    cpu = {name: [] for name, _, _, _ in programs}
    for _ in range(runs):
        for name, command, status, lines in programs:
            # Output goes to a pipe, as when a script reads it (NUL would
            # count as a terminal, and unbuffered output with it).
            before, start = cpu_of_children(), time.perf_counter()
            result = subprocess.run([wine] + command, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            wall[name].append((time.perf_counter() - start) * 1000)
            cpu[name].append((cpu_of_children() - before) * 1000)
            printed = result.stdout.decode("cp437").splitlines()
            check(name, result.returncode == status and len(printed) == lines and
                  not any(" returned " in line for line in printed),
                  f"exit status {result.returncode} and {len(printed)} lines, not {status} and {lines}: "
                  + " | ".join(printed[:3]))
    floor = min(cpu[programs[1][0]])
    print(f"{runs} runs of each, interleaved; times in milliseconds; CPU is the Wine process's own, user and system.\n")
    print("| Program | CPU min | CPU median | Wall min | Wall median | CPU min against activate.exe |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, _, _, _ in programs:
        print(f"| {name} | {min(cpu[name]):.1f} | {statistics.median(cpu[name]):.1f} | {min(wall[name]):.1f} | "
              f"{statistics.median(wall[name]):.1f} | {min(cpu[name]) / floor - 1:+.1%} |")


def output_table(wine, prefix, exes, runs, adapters):
    description, listing = large_output.large_machine(adapters)
    print(f"{runs} paired runs of each, listing first; wall-clock times in milliseconds, output to a file.\n")
    print("| ferrule.exe | Listing, median | Headings only, median | Listing / headings, median | "
          "Listing / headings, least and most | Writes for the listing |")
    print("|---|---:|---:|---:|---:|---:|")
    with tempfile.TemporaryDirectory() as workdir:
        machine = os.path.join(workdir, "machine.txt")
        with open(machine, "w", encoding="utf-8") as f:
            f.write(description)
        for label, exe in exes:
            runner = transcript.Wine(exe, wine, prefix)
            env = large_output.unjournalled_environment(runner, machine, workdir)

            def timed(arguments, lines, status):
                with open(os.path.join(workdir, "out.txt"), "wb") as out:
                    start = time.perf_counter()
                    result = subprocess.run(runner.command(arguments), env=env, stdout=out, stderr=subprocess.DEVNULL)
                    elapsed = (time.perf_counter() - start) * 1000
                with open(os.path.join(workdir, "out.txt"), "rb") as out:
                    printed = out.read().decode("cp437").splitlines()
                check(f"ferrule.exe {' '.join(arguments) or 'class dev'} ({label})",
                      result.returncode == status and printed == lines,
                      f"exit status {result.returncode} and {len(printed)} lines, not {status} and the {len(lines)} "
                      f"of the listing: " + " | ".join(printed[:3]))
                return elapsed

            headings = [line for line in listing if not line.startswith(" ")]
            timed([], listing, 1)  # warm the file cache
            full, heads = [], []
            for _ in range(runs):
                full.append(timed([], listing, 1))
                heads.append(timed(["path", "zzz"], headings, 0))
            ratios = sorted(f / h for f, h in zip(full, heads))
            status, _, writes = large_output.traced_run(runner, [], machine, workdir)
            check(f"the writes of ferrule.exe ({label})", status == 1 and writes > 0,
                  f"exit status {status} and {writes} writes")
            print(f"| {label} | {statistics.median(full):.0f} | {statistics.median(heads):.0f} | "
                  f"{statistics.median(ratios):.2f}x | {ratios[0]:.2f}x to {ratios[-1]:.2f}x | "
                  f"{writes:,} for {len(listing):,} lines |", flush=True)


def module_table(wine, prefix, windows, pwsh, adapters, runs):
    """bench/module.ps1 on a large machine of that many adapters, under Wine."""
    with tempfile.TemporaryDirectory() as workdir:
        machine = os.path.join(workdir, "large.machine")
        with open(machine, "w", encoding="utf-8") as f:
            f.write(large_output.large_machine(adapters)[0])
        env = dict(os.environ, LC_ALL="C.UTF-8", WINEPREFIX=os.path.abspath(prefix), FERRULE_WINE=wine, FERRULE_PWSH=pwsh,
                   FERRULE_WINE_EXE=os.path.abspath(os.path.join(windows, "ferrule.exe")),
                   FERRULE_EXE=os.path.join(HERE, "..", "tests", "module", "wine_ferrule.sh"))
        result = subprocess.run([pwsh, "-NoProfile", "-NonInteractive", "-File", os.path.join(HERE, "module.ps1"),
                                 "-Machine", machine, "-Runs", str(runs), "-Paths", str(adapters * 10)],
                                env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        print(result.stdout, end="", flush=True)
        check("the module's tables", result.returncode == 0, f"bench/module.ps1 exited {result.returncode}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--measure", required=True, help="the ferrule_measure program")
    parser.add_argument("--windows", required=True,
                        help="the folder with ferrule.exe, netcfg_server.dll, activate.exe and null.exe (x64)")
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--prefix", required=True, help="a Wine prefix to make, with the test server registered")
    parser.add_argument("--pwsh", default=os.path.expanduser("~/.dotnet/tools/pwsh"))
    parser.add_argument("--runs", type=int, default=100)
    parser.add_argument("--output-runs", type=int, default=15, help="paired runs of the output table")
    parser.add_argument("--module-runs", type=int, default=10, help="interleaved runs of the module's tables")
    parser.add_argument("--before", help="an earlier ferrule.exe, to measure beside this one")
    parser.add_argument("--smoke", action="store_true", help="every table at its smallest, one run each")
    args = parser.parse_args()
    sizes, adapters = SIZES, 1000
    if args.smoke:
        sizes, adapters, args.runs, args.output_runs, args.module_runs = SIZES[:1], 3, 1, 1, 1
    try:
        needed = [args.measure, args.pwsh, args.wine] + [os.path.join(args.windows, name) for name in
                                                         ("ferrule.exe", "netcfg_server.dll", "activate.exe", "null.exe")]
        for path in needed:
            check("the build", os.path.exists(path), f"{path} is missing")
        print("## The walk on the stand-in (callgrind)\n")
        walk_table(args.measure, sizes)
        prefix = os.path.abspath(args.prefix)
        make_prefix = os.path.join(HERE, "..", "tests", "wine", "wine_prefix.sh")
        made = subprocess.run([make_prefix, args.wine, prefix, os.path.join(args.windows, "netcfg_server.dll")],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        check("the Wine prefix", made.returncode == 0, made.stdout.strip()[-300:])
        try:
            print("\n## Whole processes under Wine\n")
            machine = os.path.join(HERE, "..", "standin", "sample.machine")
            wine_table(args.wine, prefix, args.windows, machine, args.runs)
            print("\n## Output under Wine\n")
            exes = [("before", args.before)] if args.before else []
            exes.append(("this one", os.path.join(args.windows, "ferrule.exe")))
            output_table(args.wine, prefix, exes, args.output_runs, adapters)
            print("\n## The PowerShell module\n")
            module_table(args.wine, prefix, args.windows, args.pwsh, adapters, args.module_runs)
        finally:
            subprocess.run([make_prefix, "--stop", args.wine, prefix], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    except RowFailed as failure:
        print(f"\nbenchmark: a row measured work that failed, so its figures are void: {failure}",
              file=sys.stderr)
        return 1
    print("\nEvery row measured work that succeeded.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
