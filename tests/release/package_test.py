#!/usr/bin/env python3
"""Makes the Windows package with CPack and checks it: the zip holds both
exes, the README, the licence, the examples, the documents (every file that
the README points to), and the PowerShell module with its own copy of
both exes and its DSC resource manifest (whose operations import the module
beside it), and nothing else, and the checksum file
beside it is the zip's SHA-256 in the form that sha256sum -c reads."""
import argparse
import hashlib
import json
import os
import posixpath
import re
import subprocess
import sys
import tempfile
import zipfile

DSC_MANIFEST = "Ferrule/DSC/ferrule.dsc.resource.json"
EXES = ["Ferrule/x64/ferrule.exe", "Ferrule/x86/ferrule.exe", "x64/ferrule.exe", "x86/ferrule.exe"]


def readme_targets(path):
    """The files that the README points to: its relative links, and the
    examples and documents that it names in code spans."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    targets = set(re.findall(r"\]\((?!https?:|#)([^)#\s]+)\)", text))
    targets.update(re.findall(r"`((?:examples|docs)/[\w.-]+)`", text))
    return sorted(targets)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--build", required=True, help="the build folder, with CPackConfig.cmake")
    parser.add_argument("--source", required=True, help="the source tree, whose examples and docs the zip holds")
    parser.add_argument("--name", required=True, help="the package's file name, without .zip")
    parser.add_argument("--module-file", action="append", default=[],
                        help="a file of the module, as its manifest lists it (once for each)")
    args = parser.parse_args()
    shipped = [f"examples/{name}" for name in os.listdir(os.path.join(args.source, "examples"))] + \
        [f"docs/{name}" for name in os.listdir(os.path.join(args.source, "docs")) if name.endswith(".md")]
    contents = sorted(EXES + ["LICENSE", "README.md"] + shipped + [f"Ferrule/{file}" for file in args.module_file])
    problems = []
    with tempfile.TemporaryDirectory() as out:
        subprocess.run([args.cpack, "-B", out, "--config",
                        os.path.join(args.build, "CPackConfig.cmake")], check=True, stdout=subprocess.DEVNULL)
        package = os.path.join(out, args.name + ".zip")
        with zipfile.ZipFile(package) as z:
            names = sorted(n for n in z.namelist() if not n.endswith("/"))
            bad = z.testzip()
            for arch in ("x64", "x86"):
                if f"Ferrule/{arch}/ferrule.exe" in names and z.read(f"Ferrule/{arch}/ferrule.exe") != z.read(f"{arch}/ferrule.exe"):
                    problems.append(f"the module's {arch}/ferrule.exe is not the package's")
        if names != contents:
            problems.append(f"the zip holds {names}, expected {contents}")
        # The DSC command resource's manifest, in the module's DSC folder, runs
        # the module beside that folder: each operation imports ../Ferrule.psd1.
        with zipfile.ZipFile(package) as z:
            if DSC_MANIFEST not in names:
                problems.append(f"the zip lacks the DSC resource manifest {DSC_MANIFEST}")
            else:
                manifest = json.loads(z.read(DSC_MANIFEST).decode("utf-8"))
                for operation in ("get", "set", "test", "whatIf", "export"):
                    found = re.search(r"Import-Module -Name (\S+)", manifest[operation]["args"][-1])
                    target = posixpath.normpath(posixpath.join(posixpath.dirname(DSC_MANIFEST), found.group(1))) \
                        if found else None
                    if target not in names:
                        problems.append(f"the DSC manifest's {operation} imports {target}, which the zip lacks")
        for target in readme_targets(os.path.join(args.source, "README.md")):
            if target not in names:
                problems.append(f"the README points to {target}, which the zip lacks")
        if bad is not None:
            problems.append(f"{bad} is damaged in the zip")
        with open(package, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with open(package + ".sha256", encoding="ascii") as f:
            checksum = f.read()
        if checksum != f"{digest}  {args.name}.zip\n":
            problems.append(f"checksum file {checksum!r}, expected the SHA-256 {digest} of {args.name}.zip")
        result = subprocess.run(["sha256sum", "-c", args.name + ".zip.sha256"], cwd=out, capture_output=True, text=True)
        if result.returncode != 0:
            problems.append("sha256sum -c: " + result.stdout + result.stderr)
    for problem in problems:
        print("FAIL " + problem)
    print(f"{args.name}.zip: {len(names)} files, SHA-256 {digest}")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
