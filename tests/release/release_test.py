#!/usr/bin/env python3
"""A release that anyone can check.

  release_test.py build --source DIR --work DIR
      copies the source tree, as a fresh clone would be (its files new, the
      commit the same), into a folder of another name, and builds both exes
      and the package there with another time zone, locale and user; then,
      with a throwaway CA and code-signing certificate made by openssl, builds
      them signed.
  release_test.py reproducible --work DIR --build DIR --source DIR
      both exes, the zip and its checksum file from the copy are byte for
      byte those of the suite's own build; and the zip's entries are dated
      from the last commit, or from SOURCE_DATE_EPOCH when it is set.
  release_test.py signed --work DIR --build DIR
      each signed exe verifies against the CA and fails to once a byte is
      changed; with its signature removed it is the unsigned exe again; it
      still carries its version record and manifest; and the signed package
      holds the signed exes, its checksum right."""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ARCHS = {"x64": ("x86_64-w64-mingw32-objdump", "pei-x86-64", "amd64"),
         "x86": ("i686-w64-mingw32-objdump", "pei-i386", "x86")}
PACKAGE = "ferrule-0.1.0.3-windows.zip"


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def same_bytes(a, b):
    with open(a, "rb") as f, open(b, "rb") as g:
        return f.read() == g.read()


def run(command, env=None, cwd=None):
    """Runs a step of the build; what it printed is shown only when it fails."""
    result = subprocess.run(command, env=env, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        sys.exit(f"FAIL {' '.join(command)}:\n{result.stdout.decode(errors='replace')}")


def copy_as_cloned(source, destination):
    """The tree's files, new, and its repository, so that the commit is the same."""
    files = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=source,
                           capture_output=True, check=True).stdout.decode().split("\0")
    for name in filter(None, files):
        if os.path.isfile(os.path.join(source, name)):
            os.makedirs(os.path.dirname(os.path.join(destination, name)), exist_ok=True)
            shutil.copyfile(os.path.join(source, name), os.path.join(destination, name))
            shutil.copymode(os.path.join(source, name), os.path.join(destination, name))
    shutil.copytree(os.path.join(source, ".git"), os.path.join(destination, ".git"))


def make_certificate(keys):
    """A CA, a code-signing certificate that it issued, and the PKCS#12 file
    of the certificate and its key, whose password is in a file."""
    os.makedirs(keys)
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
         "-days", "30", "-subj", "/CN=ferrule throwaway CA", "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign"], cwd=keys)
    run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
         "-subj", "/CN=ferrule throwaway signer"], cwd=keys)
    with open(os.path.join(keys, "signer.ext"), "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    run(["openssl", "x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
         "-out", "signer.pem", "-days", "30", "-extfile", "signer.ext"], cwd=keys)
    with open(os.path.join(keys, "password.txt"), "w") as f:
        f.write("throwaway password")
    run(["openssl", "pkcs12", "-export", "-out", "signer.p12", "-inkey", "signer.key", "-in", "signer.pem",
         "-passout", "file:password.txt"], cwd=keys)


def package(build, out, env=None):
    """The package of a build, made with CPack into out."""
    run(["cpack", "-B", out, "--config", os.path.join(build, "CPackConfig.cmake")], env)
    return os.path.join(out, PACKAGE)


def dated(zip_file, epoch):
    """Whether every entry of the zip carries that time (UTC, to the two
    seconds that a zip holds)."""
    with zipfile.ZipFile(zip_file) as z:
        return all(entry.date_time == time.gmtime(epoch - epoch % 2)[:6] for entry in z.infolist())


def keep(build, kind, work):
    """Copies the exes and the package of a build to work/kind."""
    folder = os.path.join(work, kind)
    for arch in ARCHS:
        os.makedirs(os.path.join(folder, arch))
        shutil.copy(os.path.join(build, f"windows-{arch}", "ferrule.exe"), os.path.join(folder, arch))
    with tempfile.TemporaryDirectory() as out:
        zip_file = package(build, out)
        shutil.copy(zip_file, folder)
        shutil.copy(zip_file + ".sha256", folder)


def build(args):
    shutil.rmtree(args.work, ignore_errors=True)
    source = os.path.join(args.work, "another folder", "ferrule")
    tree = os.path.join(args.work, "another folder", "build")
    copy_as_cloned(args.source, source)
    home = os.path.join(args.work, "home")
    os.makedirs(home)
    env = dict(os.environ, TZ="Pacific/Kiritimati", LANG="de_DE.UTF-8", LC_ALL="de_DE.UTF-8", HOME=home,
               USER="builder", LOGNAME="builder")
    env.pop("SOURCE_DATE_EPOCH", None)
    configure = ["cmake", "-S", source, "-B", tree, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DFERRULE_TESTS=OFF"]
    run(configure, env)
    run(["cmake", "--build", tree], env)
    keep(tree, "unsigned", args.work)
    keys = os.path.join(args.work, "keys")
    make_certificate(keys)
    run(configure + ["-DFERRULE_SIGN_PKCS12=" + os.path.join(keys, "signer.p12"),
                     "-DFERRULE_SIGN_PASSWORD_FILE=" + os.path.join(keys, "password.txt")], env)
    run(["cmake", "--build", tree], env)
    keep(tree, "signed", args.work)
    print(f"built in {tree}, unsigned and signed")
    return []


def reproducible(args):
    problems = []
    unsigned = os.path.join(args.work, "unsigned")
    for arch in ARCHS:
        ours, theirs = os.path.join(args.build, f"windows-{arch}", "ferrule.exe"), os.path.join(unsigned, arch,
                                                                                                "ferrule.exe")
        print(f"{arch}/ferrule.exe: {sha256(ours)} here, {sha256(theirs)} from the copy")
        if not same_bytes(ours, theirs):
            problems.append(f"{arch}/ferrule.exe differs between the two builds")
    with tempfile.TemporaryDirectory() as out:
        ours = package(args.build, out)
        for suffix in ("", ".sha256"):
            theirs = os.path.join(unsigned, PACKAGE + suffix)
            print(f"{PACKAGE}{suffix}: {sha256(ours + suffix)} here, {sha256(theirs)} from the copy")
            if not same_bytes(ours + suffix, theirs):
                problems.append(f"{PACKAGE}{suffix} differs between the two builds")
        commit = int(subprocess.run(["git", "-C", args.source, "log", "-1", "--format=%ct"], capture_output=True,
                                    check=True, text=True).stdout)
        if not dated(ours, commit):
            problems.append(f"the zip's entries are not dated from the last commit ({time.ctime(commit)} UTC)")
    with tempfile.TemporaryDirectory() as out:
        if not dated(package(args.build, out, dict(os.environ, SOURCE_DATE_EPOCH="1000000000")), 1000000000):
            problems.append("the zip's entries are not dated from SOURCE_DATE_EPOCH")
    return problems


def signed(args):
    problems = []
    keys, folder = os.path.join(args.work, "keys"), os.path.join(args.work, "signed")
    ca = os.path.join(keys, "ca.pem")

    def verifies(path):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-in", path],
                              capture_output=True).returncode == 0

    with tempfile.TemporaryDirectory() as scratch:
        for arch, (objdump, pe_format, manifest_arch) in ARCHS.items():
            exe, unsigned = os.path.join(folder, arch, "ferrule.exe"), os.path.join(args.build, f"windows-{arch}",
                                                                                      "ferrule.exe")

            if not verifies(exe):
                problems.append(f"{arch}: the signature does not verify")
            changed = os.path.join(scratch, f"{arch}-changed.exe")
            with open(exe, "rb") as f:
                data = bytearray(f.read())
            data[os.path.getsize(unsigned) // 2] ^= 0x01
            with open(changed, "wb") as f:
                f.write(data)
            if verifies(changed):
                problems.append(f"{arch}: the signature still verifies with a byte changed")
            removed = os.path.join(scratch, f"{arch}-removed.exe")
            run(["osslsigncode", "remove-signature", "-in", exe, "-out", removed])
            if not same_bytes(removed, unsigned):
                problems.append(f"{arch}: with its signature removed, the exe is not the unsigned one")
            if subprocess.run([os.path.join(HERE, "exe_test.sh"), objdump, exe, pe_format, manifest_arch]).returncode:
                problems.append(f"{arch}: the signed exe's version record or manifest is wrong")
        zip_file = os.path.join(folder, PACKAGE)
        with zipfile.ZipFile(zip_file) as z:
            for arch in ARCHS:
                with open(os.path.join(folder, arch, "ferrule.exe"), "rb") as f:
                    exe = f.read()
                for name in (f"{arch}/ferrule.exe", f"Ferrule/{arch}/ferrule.exe"):
                    if z.read(name) != exe:
                        problems.append(f"the signed package's {name} is not the signed exe")
            # The module's files carry signatures of their own, so that it
            # loads under the AllSigned policy; its C#, which Authenticode
            # cannot sign, is held to the SHA-256 of each file that its signed
            # Private/TypeHashes.ps1 gives. The DSC manifest (.json) is data,
            # which no policy reads, and Authenticode has no form for it.
            for name in (f"Ferrule/{file}" for file in args.module_file
                         if not file.endswith((".txt", ".cs", ".in", ".json"))):
                script = os.path.join(scratch, os.path.basename(name))
                with open(script, "wb") as f:
                    f.write(z.read(name))
                if not verifies(script):
                    problems.append(f"the signed package's {name} has no signature that verifies")
            hashes = z.read("Ferrule/Private/TypeHashes.ps1").decode("utf-8")
            for name in (f"Ferrule/{file}" for file in args.module_file if file.endswith(".cs")):
                digest = hashlib.sha256(z.read(name)).hexdigest().upper()
                if f"'{os.path.basename(name)}' = '{digest}'" not in hashes:
                    problems.append(f"the signed package's Private/TypeHashes.ps1 does not hold {name}'s SHA-256")
        with open(zip_file + ".sha256") as f:
            if f.read() != f"{sha256(zip_file)}  {PACKAGE}\n":
                problems.append("the signed package's checksum file does not match it")
    sums = [f"{arch}/ferrule.exe {sha256(os.path.join(folder, arch, 'ferrule.exe'))}" for arch in ARCHS]
    print("signed: " + ", ".join(sums))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("step", choices=["build", "reproducible", "signed"])
    parser.add_argument("--source", help="the source tree (build, reproducible)")
    parser.add_argument("--work", required=True, help="where the copy, its builds and the keys go")
    parser.add_argument("--build", help="the suite's own build folder (reproducible, signed)")
    parser.add_argument("--module-file", action="append", default=[],
                        help="a file of the module, as its manifest lists it (signed; once for each)")
    args = parser.parse_args()
    problems = {"build": build, "reproducible": reproducible, "signed": signed}[args.step](args)
    for problem in problems:
        print("FAIL " + problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
