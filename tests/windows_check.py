#!/usr/bin/env python3
"""Checks ferrule on a real Windows machine against the platform's own view of
its bindings, PowerShell's Get-NetAdapterBinding. Run it elevated, on a scratch
or test machine, with the path of an exe:

    python windows_check.py x64\\ferrule.exe [--x86 x86\\ferrule.exe]

It makes three checks and prints one summary line; its exit status is 0 when
every check passed, 1 when one failed, 2 when it could not run at all.

1. Bindings: ferrule's `class dev` listing beside Get-NetAdapterBinding
   -AllBindings -IncludeHidden. Each adapter's bind name in ferrule is its
   InterfaceGuid, and the binding of a component to an adapter is the path
   "COMPONENT->{ADAPTER GUID}" under that adapter. Every pair that either side
   reports must be on both, in the same state.
2. Round trip: the binding of ms_lltdio (Link-Layer Topology Discovery Mapper
   I/O Driver, which carries none of the machine's traffic) to one adapter is
   disabled and enabled with ferrule, and the platform is asked after each
   step. Its original state is put back whatever happens. It is the only path
   this check ever changes.
3. x86: with --x86, all four classes are listed by both exes, and whether the
   x86 exe (under WOW64 on 64-bit Windows) says the same is reported. This one
   is only reported: it never fails the check.
"""
import argparse
import collections
import json
import subprocess
import sys

LLTDIO = "ms_lltdio"
CLASSES = ("dev", "client", "proto", "service")
# Windows PowerShell 5.1. Its output is made UTF-8 so that localized names
# come through whole, whatever the console's code page.
POWERSHELL_SCRIPT = (
    "try { [Console]::OutputEncoding = [Text.Encoding]::UTF8 } catch {}; "
    "@{ Adapters = @(Get-NetAdapter -IncludeHidden | Select-Object Name, InterfaceDescription, InterfaceGuid); "
    "Bindings = @(Get-NetAdapterBinding -AllBindings -IncludeHidden | "
    "Select-Object Name, InterfaceDescription, ComponentID, DisplayName, Enabled) } | ConvertTo-Json -Depth 3")


def is_elevated():
    """Whether this process has an administrator's rights (an elevated prompt)."""
    if sys.platform != "win32":
        return False
    import ctypes
    return bool(ctypes.windll.shell32.IsUserAnAdmin())


def ask_platform():
    """The platform's adapters and bindings, as ConvertTo-Json writes them."""
    done = subprocess.run(["powershell.exe", "-NoProfile", "-NonInteractive", "-Command", POWERSHELL_SCRIPT],
                          capture_output=True, timeout=300)
    if done.returncode != 0:
        raise RuntimeError(f"powershell.exe exited with {done.returncode}: {decode(done.stderr).strip()}")
    return done.stdout.decode("utf-8-sig", errors="replace")


def decode(data):
    """ferrule's output as text: in the console's output code page (or the OEM
    code page with no console), as ferrule writes it."""
    code_page = 0
    if sys.platform == "win32":
        import ctypes
        code_page = ctypes.windll.kernel32.GetConsoleOutputCP() or ctypes.windll.kernel32.GetOEMCP()
    try:
        return data.decode(f"cp{code_page}" if code_page else "utf-8", errors="replace")
    except LookupError:
        return data.decode("latin-1")


def run_ferrule(exe, arguments):
    """One run of ferrule: its exit status, its output as bytes and as lines."""
    done = subprocess.run([exe] + arguments, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    return done.returncode, done.stdout, decode(done.stdout).splitlines()


def listed(values):
    """A list of objects from ConvertTo-Json: one object alone, or PowerShell
    5.1's wrapped array ({"value": [...], "Count": n}), comes back as a list."""
    if values is None:
        return []
    if isinstance(values, dict):
        return values["value"] if isinstance(values.get("value"), list) else [values]
    return values


def key(adapter, component):
    """Bind names and component IDs are compared without regard to case, as Windows compares them."""
    return str(adapter or "").upper(), str(component or "").lower()


def platform_view(text):
    """The platform's bindings by (adapter GUID, component ID): the cmdlet's
    object for each; and its adapters by GUID."""
    answer = json.loads(text)
    adapters = {key(a.get("InterfaceGuid"), "")[0]: a for a in listed(answer.get("Adapters"))}
    by_name = {a.get("Name"): guid for guid, a in adapters.items()}
    bindings = {}
    for b in listed(answer.get("Bindings")):
        # An adapter that Get-NetAdapter did not give is kept under its name,
        # so that the pair shows as the platform's alone.
        adapter = by_name.get(b.get("Name"), f'(adapter {b.get("Name")} not in Get-NetAdapter)')
        bindings[key(adapter, b.get("ComponentID"))] = b
    return bindings, adapters


def platform_line(binding):
    b = collections.defaultdict(str, binding)
    return (f'{b["Name"]} ({b["InterfaceDescription"]}): {b["ComponentID"]} ({b["DisplayName"]}) '
            f'Enabled={b["Enabled"]}')


def ferrule_view(lines):
    """ferrule's listing: each component's line with its path lines, and the
    lines that are neither (a failure's)."""
    components, others = [], []
    for line in lines:
        if line.startswith("    ") and components and line.rfind(": ") > 0:
            token, state = line.strip().rsplit(": ", 1)
            components[-1]["paths"].append({"token": token, "enabled": state == "1", "line": line})
        elif not line.startswith(" ") and line.endswith(")") and " (" in line:
            components.append({"bind": line.split(" (", 1)[0], "line": line, "paths": []})
        else:
            others.append(line)
    return components, others


def ferrule_pairs(components):
    """The adapters' paths that bind a component directly: (adapter,
    component) -> the path; and the paths of any other shape."""
    pairs, other_shapes = {}, []
    for component in components:
        for path in component["paths"]:
            parts = path["token"].split("->")
            if len(parts) == 2 and parts[1].upper() == component["bind"].upper():
                pairs[key(component["bind"], parts[0])] = dict(path, adapter=component)
            else:
                other_shapes.append(path["line"].strip())
    return pairs, other_shapes


def ferrule_lines_for(components, adapter, component_id):
    """What ferrule printed under the adapter that mentions the component."""
    for c in components:
        if c["bind"].upper() == adapter:
            return [c["line"]] + [p["line"] for p in c["paths"] if component_id.lower() in p["token"].lower()]
    return [f"(no component {adapter} in ferrule's class dev)"]


def compare(components, pairs, bindings, adapters):
    """Every pair on one side only, and every pair whose states differ: a row
    of (what disagrees, the pair, ferrule's lines, the platform's line)."""
    rows = []
    for (adapter, component_id), binding in sorted(bindings.items()):
        path = pairs.get((adapter, component_id))
        if path is None:
            rows.append(("only the platform has it", f"{binding.get('ComponentID')}->{adapter}",
                         ferrule_lines_for(components, adapter, component_id), platform_line(binding)))
        elif path["enabled"] != bool(binding["Enabled"]):
            rows.append(("states differ", path["token"], [path["adapter"]["line"], path["line"]],
                         platform_line(binding)))
    for pair, path in sorted(pairs.items()):
        if pair not in bindings:
            adapter = adapters.get(pair[0])
            known = f'{adapter.get("Name")} ({adapter.get("InterfaceDescription")})' if adapter else "no such adapter"
            rows.append(("only ferrule has it", path["token"], [path["adapter"]["line"], path["line"]],
                         f"(no binding of {pair[1]} reported for {pair[0]}: {known})"))
    return rows


def print_disagreements(rows):
    print(f"{'disagreement':<26} {'pair':<56} sides")
    for what, pair, ferrule_lines, platform in rows:
        print(f"{what:<26} {pair:<56} ferrule:  {ferrule_lines[0]}")
        for line in ferrule_lines[1:]:
            print(f"{'':<26} {'':<56}           {line}")
        print(f"{'':<26} {'':<56} platform: {platform}")


def check_bindings(exe, text):
    """Check 1. Returns whether it passed, and ferrule's adapter paths by (adapter, component)."""
    status, _, lines = run_ferrule(exe, ["class", "dev"])
    components, others = ferrule_view(lines)
    bindings, adapters = platform_view(text)
    pairs, other_shapes = ferrule_pairs(components)
    rows = compare(components, pairs, bindings, adapters)
    print(f"bindings: ferrule's class dev (exit status {status}): {len(components)} adapters, "
          f"{sum(len(c['paths']) for c in components)} paths; the platform: {len(adapters)} adapters, "
          f"{len(bindings)} bindings")
    for line in others:
        print(f"  ferrule also printed: {line}")
    if other_shapes:
        print(f"  {len(other_shapes)} of ferrule's paths are not of the form COMPONENT->{{ADAPTER GUID}} "
              f"under their adapter, and are not compared:")
        for line in other_shapes:
            print(f"    {line}")
    if rows:
        print_disagreements(rows)
    if bindings and len([r for r in rows if r[0] == "only the platform has it"]) == len(bindings):
        print("  none of the platform's bindings matches a path of ferrule's: the adapters' bind names are not "
              "their InterfaceGuid, or the paths are not COMPONENT->{ADAPTER GUID}, as this check assumes")
    return not rows and not others and status in (0, 1), pairs


def state_on_platform(adapter, ask):
    bindings, _ = platform_view(ask())
    binding = bindings.get(key(adapter, LLTDIO))
    return None if binding is None else bool(binding.get("Enabled"))


def change(exe, path, enable, before):
    """One ferrule run that changes the one path. Returns what was wrong with it."""
    arguments = ["comp", path["adapter"]["bind"], "path", path["token"], "enable" if enable else "disable"]
    status, _, lines = run_ferrule(exe, arguments)
    # The README's exit status table: a disable that was applied gives 0; an
    # enable gives 0 when the path was enabled before, 1 when it was not.
    expected_status = (0 if before else 1) if enable else 0
    expected = [path["adapter"]["line"], f"    {path['token']}: {int(before)}->{int(enable)}",
                "Applying changes ... success"]
    problems = []
    if status != expected_status:
        problems.append(f"exit status {status}, expected {expected_status}")
    if lines != expected:
        problems.append(f"printed {lines!r}, expected {expected!r}")
    print(f"  ferrule {' '.join(arguments)}: exit status {status}")
    for line in lines:
        print(f"    | {line}")
    return problems


def put_back(exe, path, original, ask):
    """Gives the path its original state again if it has not. Returns what went wrong."""
    adapter = path["adapter"]["bind"]
    state = state_on_platform(adapter, ask)
    if state is None:
        return f"the platform no longer reports the binding of {LLTDIO} to {adapter}"
    if state == original:
        return None
    change(exe, path, original, state)
    state = state_on_platform(adapter, ask)
    if state != original:
        mode = "enable" if original else "disable"
        problem = (f"NOT PUT BACK: the platform says Enabled={state}, it was {original}; put it back with: "
                   f"ferrule comp {adapter} path {path['token']} {mode}")
        print(f"  {problem}")
        return problem
    print(f"  put back as it was (enabled: {original})")
    return None


def check_round_trip(exe, pairs, ask):
    """Check 2, on the first adapter whose ms_lltdio binding both sides know."""
    bindings, _ = platform_view(ask())
    candidates = [pair for pair in sorted(pairs) if pair[1] == LLTDIO and pair in bindings]
    if not candidates:
        print(f"round trip: FAILED: no adapter has a binding of {LLTDIO} that both ferrule and the platform report")
        return False
    path = pairs[candidates[0]]
    original = bool(bindings[candidates[0]].get("Enabled"))
    print(f"round trip on {path['token']} (enabled: {original}):")
    problems = []
    state = original
    try:
        for enable in (False, True):
            step = "enable" if enable else "disable"
            problems += [f"{step}: {p}" for p in change(exe, path, enable, state)]
            state = state_on_platform(path["adapter"]["bind"], ask)
            if state != enable:
                problems.append(f"after the {step}, the platform says Enabled={state}")
                break
    finally:
        problems += [p for p in [put_back(exe, path, original, ask)] if p]
    for problem in problems:
        print(f"  {problem}")
    print(f"round trip: {'FAILED' if problems else 'passed'}")
    return not problems


def compare_x86(x64, x86):
    """Check 3: reported, never failed. Returns the summary's word for it."""
    differing = []
    for name in CLASSES:
        ran = [run_ferrule(exe, ["class", name]) for exe in (x64, x86)]
        if ran[0][:2] != ran[1][:2]:
            differing.append(name)
            print(f"x86: class {name}: x64 exit status {ran[0][0]}, x86 exit status {ran[1][0]}")
            first = next((i for i, pair in enumerate(zip(ran[0][2], ran[1][2])) if pair[0] != pair[1]),
                         min(len(ran[0][2]), len(ran[1][2])))
            for exe, (_, _, lines) in zip(("x64", "x86"), ran):
                print(f"  {exe} line {first + 1}: {lines[first] if first < len(lines) else '(no more lines)'}")
    if differing:
        print(f"x86: differs from x64 in class {', '.join(differing)} (reported only)")
        return f"x86 differs in {', '.join(differing)}"
    print("x86: the same lines and exit status as x64 in all four classes")
    return "x86 agrees"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("exe", help="the ferrule.exe to check (on 64-bit Windows, the x64 one)")
    parser.add_argument("--x86", help="the x86 ferrule.exe, to compare with the first")
    args = parser.parse_args(argv)
    if not is_elevated():
        print("windows_check: run this from an elevated prompt (Run as administrator): ferrule needs the "
              "network configuration's write lock; nothing was run")
        return 2
    try:
        passed, pairs = check_bindings(args.exe, ask_platform())
        round_trip = check_round_trip(args.exe, pairs, ask_platform)
    except (OSError, RuntimeError, ValueError, KeyError, subprocess.TimeoutExpired) as error:
        print(f"windows_check: FAILED: {type(error).__name__}: {error}")
        return 1
    x86 = compare_x86(args.exe, args.x86) if args.x86 else "x86 not compared"
    ok = passed and round_trip
    print(f"windows_check: {'PASSED' if ok else 'FAILED'}: bindings {'agree' if passed else 'disagree'}, "
          f"round trip {'passed' if round_trip else 'failed'}, {x86}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
