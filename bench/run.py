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


def callgrind(measure, paths, mode):
    out = f"/tmp/ferrule-callgrind.{os.getpid()}"
    result = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}",
                             "--toggle-collect=walkComponents*", measure, str(paths), mode],
                            capture_output=True, text=True, check=True)
    os.remove(out)
    instructions = int(re.search(r"Collected : (\d+)", result.stderr).group(1))
    peak = int(re.search(r"walk_peak_bytes (\d+)", result.stderr).group(1))
    machine = int(re.search(r"machine_bytes (\d+)", result.stderr).group(1))
    return instructions, peak, machine


def walk_table(measure):
    print("| Paths | Mode | Instructions | Instructions per path | Heap for the walk (bytes) | Machine in memory (bytes) |")
    print("|---:|---|---:|---:|---:|---:|")
    per_path = {}
    for mode in ["query", "disable"]:
        for paths in SIZES:
            instructions, peak, machine = callgrind(measure, paths, mode)
            per_path[(mode, paths)] = instructions / paths
            print(f"| {paths:,} | {mode} | {instructions:,} | {instructions / paths:,.0f} | {peak:,} | {machine:,} |",
                  flush=True)
    for mode in ["query", "disable"]:
        growth = per_path[(mode, 100000)] / per_path[(mode, 1000)] - 1
        print(f"\n{mode}: instructions per path change by {growth:+.2%} from 1,000 to 100,000 paths.")


def cpu_of_children():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def wine_table(wine, prefix, folder, machine, runs):
    env = dict(os.environ, WINEPREFIX=os.path.abspath(prefix), WINEDEBUG="-all",
               STANDIN_MACHINE="Z:" + os.path.abspath(machine).replace("/", "\\"))
    ferrule = os.path.join(folder, "ferrule.exe")
    programs = [
        ("null.exe (does nothing)", [os.path.join(folder, "null.exe")]),
        ("activate.exe (activates the configuration object)", [os.path.join(folder, "activate.exe")]),
        ("ferrule.exe bogus (usage error)", [ferrule, "bogus"]),
        ("ferrule.exe class proto comp ms_none (walks, prints nothing)", [ferrule, "class", "proto", "comp", "ms_none"]),
        ("ferrule.exe class proto (walks 7 components and 8 paths, prints 15 lines)", [ferrule, "class", "proto"]),
        ("ferrule.exe (walks 2 adapters and 14 paths, prints 16 lines)", [ferrule]),
    ]
    quiet = dict(env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _, command in programs:  # warm the file cache
        subprocess.run([wine] + command, **quiet)
    wall = {name: [] for name, _ in programs}
    cpu = {name: [] for name, _ in programs}
    for _ in range(runs):
        for name, command in programs:
            # Output goes to a pipe, as when a script reads it (NUL would
            # count as a terminal, and unbuffered output with it).
            before, start = cpu_of_children(), time.perf_counter()
            subprocess.run([wine] + command, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            wall[name].append((time.perf_counter() - start) * 1000)
            cpu[name].append((cpu_of_children() - before) * 1000)
    floor = min(cpu[programs[1][0]])
    print(f"{runs} runs of each, interleaved; times in milliseconds; CPU is the Wine process's own, user and system.\n")
    print("| Program | CPU min | CPU median | Wall min | Wall median | CPU min against activate.exe |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, _ in programs:
        print(f"| {name} | {min(cpu[name]):.1f} | {statistics.median(cpu[name]):.1f} | {min(wall[name]):.1f} | "
              f"{statistics.median(wall[name]):.1f} | {min(cpu[name]) / floor - 1:+.1%} |")


def output_table(wine, prefix, exes, runs):
    description, listing = large_output.large_machine()
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

            def timed(arguments):
                with open(os.path.join(workdir, "out.txt"), "wb") as out:
                    start = time.perf_counter()
                    subprocess.run(runner.command(arguments), env=env, stdout=out, stderr=subprocess.DEVNULL)
                    return (time.perf_counter() - start) * 1000

            timed([])  # warm the file cache
            full, headings = [], []
            for _ in range(runs):
                full.append(timed([]))
                headings.append(timed(["path", "zzz"]))
            ratios = sorted(f / h for f, h in zip(full, headings))
            _, _, writes = large_output.traced_run(runner, [], machine, workdir)
            print(f"| {label} | {statistics.median(full):.0f} | {statistics.median(headings):.0f} | "
                  f"{statistics.median(ratios):.2f}x | {ratios[0]:.2f}x to {ratios[-1]:.2f}x | "
                  f"{writes:,} for {len(listing):,} lines |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--measure", required=True, help="the ferrule_measure program")
    parser.add_argument("--windows", help="the folder with ferrule.exe, activate.exe and null.exe (x64)")
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--prefix", help="a Wine prefix with the test server registered")
    parser.add_argument("--runs", type=int, default=100)
    parser.add_argument("--output-runs", type=int, default=15, help="paired runs of the output table")
    parser.add_argument("--before", help="an earlier ferrule.exe, to measure beside this one")
    args = parser.parse_args()
    print("## The walk on the stand-in (callgrind)\n")
    walk_table(args.measure)
    if args.windows:
        # One wineserver for every run, as on a machine that is already up; it
        # must not hold the output of any run open, nor outlive the measurement.
        wineserver = os.path.join(os.path.dirname(args.wine), "wineserver64")
        quiet = dict(env=dict(os.environ, WINEPREFIX=os.path.abspath(args.prefix)), stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        subprocess.run([wineserver, "-p"], **quiet)  # fails, harmlessly, if one is already up
        try:
            print("\n## Whole processes under Wine\n")
            machine = os.path.join(HERE, "..", "standin", "sample.machine")
            wine_table(args.wine, args.prefix, args.windows, machine, args.runs)
            print("\n## Output under Wine\n")
            exes = [("before", args.before)] if args.before else []
            exes.append(("this one", os.path.join(args.windows, "ferrule.exe")))
            output_table(args.wine, args.prefix, exes, args.output_runs)
        finally:
            subprocess.run([wineserver, "-k"], **quiet)


if __name__ == "__main__":
    sys.exit(main())
