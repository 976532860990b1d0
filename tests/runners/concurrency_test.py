#!/usr/bin/env python3
"""ferrule processes that share one machine description, whose write lock is a
real lock between processes: one waits while another holds the lock and gives
up with the lock line; changes made one after another, or at once, are all
kept; and the description is never left torn."""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MACHINE = """class proto
  component ms_alpha "Alpha Protocol"
    path "ms_server->ms_alpha" enabled
    path "ms_msclient->ms_alpha" enabled
    path "ms_pacer->ms_alpha" enabled
    path "ms_lltdio->ms_alpha" enabled
"""
TOKENS = ["ms_server->ms_alpha", "ms_msclient->ms_alpha", "ms_pacer->ms_alpha", "ms_lltdio->ms_alpha"]


def start(ferrule, machine, arguments, journal=None):
    env = dict(os.environ, STANDIN_MACHINE=machine)
    if journal:
        env["STANDIN_JOURNAL"] = journal
    return subprocess.Popen([ferrule] + arguments, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def finish(process):
    out, err = process.communicate(timeout=60)
    return process.returncode, out.decode(), err.decode()


def states(ferrule, machine):
    status, out, err = finish(start(ferrule, machine, ["class", "proto"]))
    assert not err, err
    return {line.split(": ")[0].strip(): line.split(": ")[1] for line in out.splitlines() if line.startswith("    ")}


def disable(token):
    return ["class", "proto", "comp", "ms_alpha", "path", token, "disable"]


def check(condition, what):
    if not condition:
        print("FAIL", what)
        sys.exit(1)


def waits_while_another_holds_the_lock(ferrule, workdir):
    machine = os.path.join(workdir, "held.machine")
    journal = os.path.join(workdir, "holder.journal")
    with open(machine, "w") as f:
        f.write(MACHINE + "delay INetCfg.Initialize 1 8000\n")
    holder = start(ferrule, machine, disable(TOKENS[0]), journal)
    while not (os.path.exists(journal) and "AcquireWriteLock" in open(journal).read()):
        check(holder.poll() is None, "the holder ended before it took the lock")
        time.sleep(0.05)
    status, out, err = finish(start(ferrule, machine, disable(TOKENS[1])))
    check(holder.poll() is None, "the second process should give up while the first holds the lock")
    check((status, out, err) == (1, "lock->AcquireWriteLock() returned 1\n", ""),
          f"the second process: status {status}, output {out!r} {err!r}")
    status, out, err = finish(holder)
    check(status == 0 and out.endswith("Applying changes ... success\n"), f"the holder: {status} {out!r} {err!r}")
    with open(machine) as f:
        kept = [line for line in f if not line.startswith("delay ")]
    with open(machine, "w") as f:
        f.writelines(kept)
    got = states(ferrule, machine)
    check(got[TOKENS[0]] == "0" and got[TOKENS[1]] == "1", f"states after: {got}")
    print("ok: a second process waited for the lock, gave up with the lock line, and changed nothing")


def keeps_changes_one_after_another(ferrule, workdir):
    machine = os.path.join(workdir, "sequence.machine")
    with open(machine, "w") as f:
        f.write(MACHINE)
    for token in TOKENS[:2]:
        status, out, err = finish(start(ferrule, machine, disable(token)))
        check(status == 0 and not err, f"disable {token}: {status} {out!r} {err!r}")
    got = states(ferrule, machine)
    check([got[t] for t in TOKENS] == ["0", "0", "1", "1"], f"states after: {got}")
    print("ok: two changes one after another are both kept")


def keeps_changes_made_at_once(ferrule, workdir):
    machine = os.path.join(workdir, "together.machine")
    with open(machine, "w") as f:
        f.write(MACHINE)
    for round_ in range(5):
        enable = finish(start(ferrule, machine, ["class", "proto", "enable"]))
        check(enable[1].endswith("Applying changes ... success\n"), f"enable: {enable}")
        processes = [start(ferrule, machine, disable(token)) for token in TOKENS]
        results = [finish(p) for p in processes]
        check(all(r[0] == 0 and not r[2] for r in results), f"round {round_}: {results}")
        got = states(ferrule, machine)
        check([got[t] for t in TOKENS] == ["0"] * 4, f"round {round_}: states after: {got}")
    check(not os.path.exists(machine + ".tmp"), "a temporary file was left behind")
    print("ok: four changes made at once, five times over, were all kept, and no file was left torn")


def main():
    ferrule = sys.argv[1]
    with tempfile.TemporaryDirectory() as workdir:
        keeps_changes_one_after_another(ferrule, workdir)
        keeps_changes_made_at_once(ferrule, workdir)
        waits_while_another_holds_the_lock(ferrule, workdir)


if __name__ == "__main__":
    main()
