#!/usr/bin/env python3
"""Reads the application manifest back out of a built ferrule.exe, as Windows
finds it (resource type RT_MANIFEST, 24, with the id 1), parses it as XML and
checks what it declares: the assembly's name, version and architecture, that
the program runs as whoever starts it, and the systems it supports."""
import argparse
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_MANIFEST = 24
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"


def resource(image, type_id, name_id):
    """The data of the first language of one resource, or None."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", image, optional)[0] == 0x10B else 112)
    root_rva = struct.unpack_from("<I", image, directories + 2 * 8)[0]

    def offset(rva):
        for s in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", image, optional + optional_size + 40 * s + 8)
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError(f"RVA {rva:#x} is in no section")

    root = offset(root_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", image, root + directory + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", image, root + directory + 16 + 8 * i)

    def child(directory, wanted):
        for name, target in entries(directory):
            if wanted is None or name == wanted:
                return target & 0x7FFFFFFF
        return None

    types = child(0, type_id)
    names = child(types, name_id) if types is not None else None
    data = child(names, None) if names is not None else None
    if data is None:
        return None
    rva, size = struct.unpack_from("<II", image, root + data)
    return image[offset(rva):offset(rva) + size]


def problems(manifest, version, architecture):
    found = []
    root = ElementTree.fromstring(manifest)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    expected = {"type": "win32", "name": "ferrule", "version": version, "processorArchitecture": architecture}
    got = {key: identity.get(key) for key in expected} if identity is not None else None
    if got != expected:
        found.append(f"assemblyIdentity {got}, expected {expected}")
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                      f"{ASM_V3}requestedExecutionLevel")
    got = (level.get("level"), level.get("uiAccess")) if level is not None else None
    if got != ("asInvoker", "false"):
        found.append(f"requestedExecutionLevel {got}, expected asInvoker without uiAccess")
    systems = {e.get("Id") for e in root.iter(COMPATIBILITY + "supportedOS")}
    if systems != SUPPORTED_OS:
        found.append(f"supportedOS {sorted(systems)}, expected {sorted(SUPPORTED_OS)}")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("exe")
    parser.add_argument("version")
    parser.add_argument("architecture", choices=["amd64", "x86"])
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        manifest = resource(f.read(), RT_MANIFEST, 1)
    found = ["no manifest (RT_MANIFEST 1)"] if manifest is None else problems(manifest, args.version,
                                                                                args.architecture)
    for problem in found:
        print(f"{args.exe}: {problem}")
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
