#!/usr/bin/env python3
"""The example playbook, examples/ferrule.yml, run unchanged by Ansible on two
hosts: Ansible itself takes every changed_when and failed_when decision, on
ferrule's real output. Each host is this machine, with its own description
and its own adapters' connection names; the collection path puts a stand-in
of ansible.windows first (tests/examples/collections), whose win_command runs
the stand-in build of ferrule, whose win_shell answers Get-NetAdapter from
the host's names, and whose win_copy copies nothing. The two hosts' adapters
named Ethernet have different GUIDs."""
import argparse
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
SAMPLE = os.path.join(ROOT, "standin", "sample.machine")
A = "{4A1F3C7E-8B2D-4E6A-9C5B-1D2E3F405162}"
B = "{9E8D7C6B-5A49-4382-B1C0-D9E8F7A6B5C4}"
ENABLED_B = (f'path "ms_tcpip6->{B}" disabled', f'path "ms_tcpip6->{B}" enabled')
DISABLED_A = (f'path "ms_tcpip6->{A}" enabled', f'path "ms_tcpip6->{A}" disabled')
# A's display name, holding U+2028 and after it what reads as a failed call,
# and as A's path unbound, to a reader that splits lines there.
FORGED_A = ('"Intel(R) Ethernet Connection (7) I219-V"',
            f'"I219-V\xe2\x80\xa8    ms_tcpip6->{A}: 0\xe2\x80\xa8x returned 80004005"')

# Each host: its adapters ("Ethernet" is A on host1, B on host2), the edits and
# extra lines of its description, and what Ansible must report for it:
# failed, changed, and the IPv6 paths afterwards.
ROWS = [
    ("the path enabled on each host's own adapter",
     {"host1": ("Ethernet=" + A, [], [], "changed", (False, False)),
      "host2": ("Ethernet=" + B, [ENABLED_B], [], "changed", (True, False))}),
    ("the path already disabled", {"host1": ("Ethernet=" + A, [DISABLED_A], [], "ok", (False, False))}),
    ("the lock refused", {"host1": ("Ethernet=" + A, [], ["fail INetCfgLock.AcquireWriteLock * 80070005"], "failed",
                                    (True, False))}),
    ("no adapter of that name", {"host1": ("Wi-Fi=" + B, [], [], "failed", (True, False))}),
    ("an adapter that ferrule does not list", {"host1": ("Ethernet={00000000-0000-0000-0000-000000000000}", [], [],
                                                          "failed", (True, False))}),
    ("a display name with a line separator", {"host1": ("Ethernet=" + A, [FORGED_A], [], "changed", (False, False))}),
    ("an apply that needs a restart", {"host1": ("Ethernet=" + A, [], ["fail INetCfg.Apply * 4a020"], "changed",
                                                 (False, False))}),
]


def ipv6(machine):
    """Whether IPv6 is bound to A and to B, as the description says."""
    with open(machine, encoding="utf-8") as f:
        text = f.read()
    return tuple(f'path "ms_tcpip6->{guid}" enabled' in text for guid in (A, B))


def run_row(name, hosts, ferrule, workdir):
    inventory = ["[windows]"]
    machines = {}
    for host, (adapters, edits, extra, _, _) in hosts.items():
        machine = os.path.join(workdir, host + ".machine")
        with open(SAMPLE, encoding="utf-8") as f:
            text = f.read()
        for old, new in edits:
            text = text.replace(old, new)
        with open(machine, "w", encoding="utf-8") as f:
            f.write(text + "".join(line + "\n" for line in extra))
        machines[host] = machine
        python = os.path.join(workdir, host + "-python")
        with open(python, "w", encoding="utf-8") as f:
            f.write(f"#!/bin/sh\nexport STANDIN_MACHINE='{machine}' FERRULE_TEST_ADAPTERS='{adapters}' "
                    f"FERRULE_EXE='{ferrule}'\nexec '{sys.executable}' \"$@\"\n")
        os.chmod(python, 0o755)
        inventory.append(f"{host} ansible_connection=local ansible_python_interpreter={python}")
    with open(os.path.join(workdir, "inventory.ini"), "w", encoding="utf-8") as f:
        f.write("\n".join(inventory) + "\n")
    env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=os.path.join(HERE, "collections"), ANSIBLE_STDOUT_CALLBACK="json",
               ANSIBLE_LOCAL_TEMP=os.path.join(workdir, "tmp"), ANSIBLE_HOST_KEY_CHECKING="False")
    done = subprocess.run(["ansible-playbook", "-i", os.path.join(workdir, "inventory.ini"),
                           os.path.join(ROOT, "examples", "ferrule.yml")], env=env, capture_output=True, text=True)
    try:
        report = json.loads(done.stdout)
    except ValueError:
        print(f"FAIL {name}: ansible-playbook printed no JSON report\n{done.stdout}{done.stderr}")
        return False
    problems = []
    for host, (_, _, _, outcome, after) in hosts.items():
        stats = report["stats"].get(host, {})
        got = "failed" if stats.get("failures") else "changed" if stats.get("changed") else "ok"
        if got != outcome:
            problems.append(f"{host}: {got}, expected {outcome}")
        if ipv6(machines[host]) != after:
            problems.append(f"{host}: IPv6 bound to A and B {ipv6(machines[host])}, expected {after}")
    if "restart" in name:
        messages = [task["hosts"]["host1"].get("msg", "") for play in report["plays"] for task in play["tasks"]
                    if "host1" in task["hosts"]]
        if not any("a restart completes it" in message for message in messages):
            problems.append("no word that a restart completes the change")
    print(f"{'FAIL' if problems else 'ok  '} {name}")
    for problem in problems:
        print("  " + problem)
    return not problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--ferrule", required=True, help="the stand-in build of ferrule")
    args = parser.parse_args()
    results = []
    for name, hosts in ROWS:
        with tempfile.TemporaryDirectory() as workdir:
            results.append(run_row(name, hosts, os.path.abspath(args.ferrule), workdir))
    print(f"{results.count(True)} passed, {results.count(False)} failed")
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
