#!/usr/bin/env python3
"""The two release steps that must give the same bytes from the same commit,
whoever runs them, wherever and whenever:

  release.py sign --pkcs12 FILE --password-file FILE [--timestamp URL] --source DIR EXE
      signs EXE in place with Authenticode (SHA-256), with osslsigncode;
  release.py zip --source DIR STAGING ZIP
      makes ZIP of the files under STAGING, in a fixed order, with fixed
      permissions, each dated from the commit.

The date is SOURCE_DATE_EPOCH, as Debian sets it, or else the time of the
source's last commit. A signature carries it as its signing time, so that two
signings of the same exe with the same key are the same; a time-stamp server,
when named, vouches for the real time of signing instead (and then no two
signings are alike)."""
import argparse
import os
import subprocess
import sys
import time
import zipfile


def source_date_epoch(source):
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    result = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"], capture_output=True, text=True)
    if result.returncode != 0 or not result.stdout.strip():
        sys.exit(f"release.py: {source} is not a git checkout: set SOURCE_DATE_EPOCH to the release's time")
    return int(result.stdout)


def sign(args):
    signed = args.exe + ".signed"
    command = ["osslsigncode", "sign", "-pkcs12", args.pkcs12, "-readpass", args.password_file, "-h", "sha256",
               "-n", "ferrule", "-time", str(source_date_epoch(args.source))]
    if args.timestamp:
        command += ["-ts", args.timestamp]
    result = subprocess.run(command + ["-in", args.exe, "-out", signed], capture_output=True, text=True)
    if result.returncode != 0:
        if os.path.exists(signed):
            os.remove(signed)
        sys.exit(f"release.py: signing {args.exe} failed:\n{result.stdout}{result.stderr}")
    os.replace(signed, args.exe)


def make_zip(args):
    # A zip holds local times from 1980 on; the commit's time is taken as UTC.
    date = time.gmtime(max(source_date_epoch(args.source), 315532800))[:6]
    names = []
    for folder, _, files in os.walk(args.staging):
        names += [os.path.relpath(os.path.join(folder, f), args.staging).replace(os.sep, "/") for f in files]
    with zipfile.ZipFile(args.zip, "w") as z:
        for name in sorted(names):
            entry = zipfile.ZipInfo(name, date)
            entry.create_system = 3  # Unix, so that the permissions below are read
            entry.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(args.staging, name), "rb") as f:
                z.writestr(entry, f.read(), compresslevel=9)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    steps = parser.add_subparsers(dest="step", required=True)
    signing = steps.add_parser("sign", help="sign an exe in place")
    signing.add_argument("--pkcs12", required=True, help="the certificate and its private key")
    signing.add_argument("--password-file", required=True, help="the file that holds the PKCS#12 password")
    signing.add_argument("--timestamp", help="an RFC 3161 time-stamp server's URL")
    signing.add_argument("--source", required=True, help="the source tree, for the date")
    signing.add_argument("exe")
    packing = steps.add_parser("zip", help="make the package")
    packing.add_argument("--source", required=True, help="the source tree, for the date")
    packing.add_argument("staging", help="the folder of files to pack")
    packing.add_argument("zip")
    args = parser.parse_args()
    (sign if args.step == "sign" else make_zip)(args)


if __name__ == "__main__":
    main()
