#!/usr/bin/env python3
"""Writes the module's Private/TypeHashes.ps1: the SHA-256 of each of its
Types/*.cs files, which the module checks before it compiles them, and of
each of its Templates/*.ps1.in files, which it checks before it uses them. The file
is a script of the module, so that it is signed with the rest; Authenticode
cannot sign a .cs file. With --check, says whether the file is current."""
import argparse
import hashlib
import pathlib
import sys


def table(variable, comment, paths):
    """A hashtable of the SHA-256 of each file, by its name, after its comment."""
    lines = comment + [f"$script:{variable} = [ordered]@{{"]
    for path in sorted(paths):
        digest = hashlib.sha256(path.read_bytes()).hexdigest().upper()
        lines.append(f"    '{path.name}' = '{digest}'")
    return lines + ["}"]


def text(module):
    types = table("TypeHashes", [
        "# The SHA-256 of each of the module's Types/*.cs files, which the module",
        "# compiles only when they match. Written by cmake/type_hashes.py: run it",
        "# after a change of a .cs file.",
    ], (module / "Types").glob("*.cs"))
    templates = table("TemplateHashes", [
        "# And of each of its Templates/*.ps1.in files, the scripts that",
        "# New-FerruleRemediation writes, which it uses only when they match.",
    ], (module / "Templates").glob("*.ps1.in"))
    return "\n".join(types + templates) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("module", type=pathlib.Path, help="the module's folder")
    parser.add_argument("--out", type=pathlib.Path, help="where to write (default: the module's own)")
    parser.add_argument("--check", action="store_true", help="fail when the module's own file is not current")
    options = parser.parse_args()
    wanted = text(options.module)
    own = options.module / "Private" / "TypeHashes.ps1"
    if options.check:
        if not own.exists() or own.read_text() != wanted:
            print(f"{own} is not current: run cmake/type_hashes.py {options.module}")
            return 1
        print(f"{own} is current")
        return 0
    (options.out or own).write_text(wanted)
    return 0


if __name__ == "__main__":
    sys.exit(main())
