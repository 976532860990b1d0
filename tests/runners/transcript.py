#!/usr/bin/env python3
"""Runs transcript cases against a built ferrule and compares, byte for byte,
its standard output and its exit status.

A case file holds, line by line:
  # ...                  a comment
  machine: NAME          the machine: "sample", or tests/machines/NAME.machine
  machine+: LINE         one more line of machine description (a fault, a lock)
  standin-only: WHY      the case cannot run under Wine, and why (after a
                         run: line, that run alone)
  locale: NAME           under Wine, the locale the case runs in, and so its
                         ANSI and OEM code pages (the runner's otherwise)
  run: ARGUMENTS         one run of ferrule; arguments are split as a shell would
  as: NAME               the program's name as a command line's first element
                         (quoted as a shell or Windows would quote it): on the
                         stand-in argv[0]; under Wine (with --launcher) the
                         command line that CreateProcess is handed begins so
  to: FILE               the run's standard output goes to FILE and is not read
                         (/dev/full: every write fails, as on a full disk;
                         "closed pipe": a pipe whose read end is already closed)
  exe-only: WHY          this run is for ferrule.exe alone, and why
  with: LINE             a line of machine description for this run alone, in
                         the form the stand-in writes it (faults count per process)
  status: N              the exit status that run must give
  | TEXT                 one line that run must print (after "| ")
  journal: none          that run must make no platform call at all

Runs in one case share the machine: a change applied by one is seen by the next.
With --wine, ferrule.exe runs under Wine with the test server registered in the
prefix; then CR LF line ends are the only thing normalised. Wine takes the OEM
code page from the locale (--lang, C.UTF-8 by default); the expected lines are
encoded in it, as ferrule.exe writes redirected output with no console. With
--program-folder, ferrule.exe runs from a copy in a folder of that name. With
--console, it writes to a console: Wine's, on a pseudo-terminal, which shows it
as UTF-8 with escape sequences of its own that are turned back into text.
With --code-page, cmd runs it on such a console after chcp has set the
console's output code page (65001 UTF-8, 65000 UTF-7), its output redirected
to a file: the file must be in that code page.
"""
import argparse
import copy
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "standin", "sample.machine")
# The OEM code page that Wine takes from the locale, as Python names it.
# What a run's "to:" names for a pipe whose read end is closed before it starts.
CLOSED_PIPE = "closed pipe"
# The exit status that tells CTest a test was skipped (its SKIP_RETURN_CODE).
SKIPPED = 77
OEM_CODE_PAGES = {"C.UTF-8": "cp437", "de_DE.UTF-8": "cp850", "ja_JP.UTF-8": "cp932", "ru_RU.UTF-8": "cp866"}


class Run:
    def __init__(self, arguments):
        self.arguments = arguments
        self.status = None
        self.lines = []
        self.no_journal = False
        self.extra = []
        self.argv0 = None
        self.output = None
        self.exe_only = None
        self.standin_only = None


class Case:
    def __init__(self, path):
        self.path = path
        self.machine = None
        self.extra = []
        self.standin_only = None
        self.locale = None
        self.runs = []
        self.parse()

    def parse(self):
        with open(self.path, encoding="utf-8") as f:
            for number, line in enumerate(f.read().split("\n"), 1):
                self.parse_line(line, number)
        if self.machine is None or not self.runs:
            raise SystemExit(f"{self.path}: a case needs a machine and a run")

    def parse_line(self, line, number):
        if line.startswith("| ") or line == "|":
            self.runs[-1].lines.append(line[2:])
            return
        if not line.strip() or line.startswith("#"):
            return
        key, _, value = line.partition(":")
        value = value.strip()
        if key == "machine":
            self.machine = value
        elif key == "machine+":
            self.extra.append(value)
        elif key == "standin-only":
            (self.runs[-1] if self.runs else self).standin_only = value
        elif key == "locale":
            self.locale = value
        elif key == "run":
            self.runs.append(Run(shlex.split(value)))
        elif key == "with":
            self.runs[-1].extra.append(value)
        elif key == "as":
            self.runs[-1].argv0 = value
        elif key == "to":
            self.runs[-1].output = value
        elif key == "exe-only":
            self.runs[-1].exe_only = value
        elif key == "status":
            self.runs[-1].status = int(value)
        elif key == "journal" and value == "none":
            self.runs[-1].no_journal = True
        else:
            raise SystemExit(f"{self.path}:{number}: cannot read: {line}")

    def machine_text(self):
        name = self.machine
        path = SAMPLE if name == "sample" else os.path.join(HERE, "..", "machines", name + ".machine")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        return text + "".join(line + "\n" for line in self.extra)


class Native:
    name = "ferrule"

    def __init__(self, program):
        self.program = os.path.abspath(program)

    def environment(self, machine, journal):
        env = dict(os.environ)
        env["STANDIN_MACHINE"] = machine
        env["STANDIN_JOURNAL"] = journal
        return env

    def command(self, arguments, argv0=None):
        return [self.program if argv0 is None else program_word(argv0)] + arguments

    def command_environment(self, arguments, argv0):
        """What a run's command needs in its environment besides."""
        return {}

    def executable(self):
        """What to start, when the command's first word is not it."""
        return self.program

    def encode(self, text):
        return text.encode("utf-8")

    def program_name(self, argv0=None):
        """What the usage line must show for the program's name."""
        return self.encode(self.program if argv0 is None else program_word(argv0))

    def normalise(self, stdout):
        return stdout

    def never_started(self, stdout, journal):
        """Whether the run ended before the program did anything at all."""
        return False

    def cannot_pass(self, arguments):
        """Why this runner cannot hand the program these arguments, if it cannot."""
        return None

    def in_locale(self, lang):
        """This runner, in that locale where it has one."""
        return self

    def printed(self, stdout, journal):
        """What the program printed, of what the process wrote to standard output."""
        return stdout


class Wine(Native):
    name = "ferrule.exe"

    def __init__(self, program, wine, prefix, lang="C.UTF-8", launcher=None):
        super().__init__(program)
        self.launcher = launcher
        self.wine = wine
        self.prefix = os.path.abspath(prefix)
        self.lang = lang
        self.oem_code_page = OEM_CODE_PAGES[lang]

    def environment(self, machine, journal):
        env = super().environment(machine, journal)
        env["WINEPREFIX"] = self.prefix
        env["WINEDEBUG"] = "-all"
        # Wine hands these to the program; the test server reads them as Windows paths.
        env["STANDIN_MACHINE"] = windows_path(machine)
        env["STANDIN_JOURNAL"] = windows_path(journal)
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        # Wine follows LANG alone only where glibc has the locale; LC_ALL it
        # follows either way.
        env["LANG"] = env["LC_ALL"] = self.lang
        return env

    def encode(self, text):
        return text.encode(self.oem_code_page, errors="replace")

    def in_locale(self, lang):
        runner = copy.copy(self)
        runner.lang, runner.oem_code_page = lang, OEM_CODE_PAGES[lang]
        return runner

    def never_started(self, stdout, journal):
        # Every run under Wine prints something (a usage error its line) or
        # calls the test server, which opens the journal at its first call.
        return stdout == b"" and not os.path.exists(journal)

    def program_name(self, argv0=None):
        return self.encode(windows_path(self.program) if argv0 is None else program_word(argv0))

    def command(self, arguments, argv0=None):
        if argv0 is None:
            return [self.wine, self.program] + arguments
        if not self.launcher:
            raise SystemExit("a run with its own program name needs --launcher under Wine")
        return [self.wine, self.launcher, windows_path(self.program)]

    def command_environment(self, arguments, argv0):
        if argv0 is None:
            return {}
        return {"FERRULE_COMMAND_LINE": " ".join([argv0, subprocess.list2cmdline(arguments)])}

    def executable(self):
        return None

    def normalise(self, stdout):
        if b"\n" in stdout.replace(b"\r\n", b""):
            return stdout  # a bare LF on Windows is itself a fault: leave it to show
        return stdout.replace(b"\r\n", b"\n")


class Console(Wine):
    name = "ferrule.exe on a console"

    def environment(self, machine, journal):
        env = super().environment(machine, journal)
        env["CONSOLE_ERRORS"] = os.path.join(os.path.dirname(journal), "console-errors.txt")
        return env

    def command(self, arguments, argv0=None):
        return self.on_terminal(super().command(arguments))

    def on_terminal(self, command):
        # A terminal wide enough that no line of the cases wraps. Wine's own
        # complaints go to a file, not onto the terminal among the program's
        # lines (its loader sometimes asserts as the process exits).
        shell = "stty cols 4000 rows 50 && exec " + shlex.join(command) + ' 2>"$CONSOLE_ERRORS"'
        return ["script", "-q", "-e", "-c", shell, "/dev/null"]

    def encode(self, text):
        return text.encode("utf-8")

    def normalise(self, stdout):
        """The text that the terminal shows: a cursor moved right stands for
        spaces; the cursor hidden and shown, and lines cleared, show nothing."""
        stdout = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or 1), stdout)
        stdout = re.sub(rb"\x1b\[\??[0-9;]*[A-Za-z]", b"", stdout)
        return stdout.replace(b"\r", b"")


class CodePageConsole(Console):
    """ferrule.exe redirected to a file by cmd, on a console whose output code
    page chcp has set: a reader of the file expects that code page. What it
    wrote is read back with Python's codec of the code page and compared as
    UTF-8, since an encoder may choose among equal forms (UTF-7 does)."""
    CODECS = {65001: "utf-8", 65000: "utf-7"}

    def __init__(self, program, wine, prefix, lang, code_page):
        super().__init__(program, wine, prefix, lang)
        self.code_page = code_page
        self.name = f"ferrule.exe redirected on a console of code page {code_page}"

    @staticmethod
    def output_file(journal):
        return os.path.join(os.path.dirname(journal), "redirected.txt")

    def environment(self, machine, journal):
        env = super().environment(machine, journal)
        env["FERRULE_OUTPUT"] = windows_path(self.output_file(journal))
        return env

    def cannot_pass(self, arguments):
        if any(re.search(r'[\s&|<>^"%()]', word) for word in arguments):
            return "cmd would read these words otherwise"
        return None

    def command(self, arguments, argv0=None):
        words = [windows_path(self.program)] + arguments
        why = self.cannot_pass(words)
        if why:
            raise SystemExit(f"{why}: {words}")
        line = f"chcp {self.code_page} >nul & {' '.join(words)} >%FERRULE_OUTPUT%"
        return self.on_terminal([self.wine, "cmd", "/c", line])

    def printed(self, stdout, journal):
        path = self.output_file(journal)
        if not os.path.exists(path):
            return b""
        with open(path, "rb") as f:
            return f.read()

    def normalise(self, stdout):
        text = Wine.normalise(self, stdout).decode(self.CODECS[self.code_page], errors="replace")
        return text.encode("utf-8")


def add_runner_arguments(parser, wine_required=False):
    """The options that name the program, and under Wine the loader and the
    prefix: --ferrule, --wine, --prefix."""
    parser.add_argument("--ferrule", required=True, help="the ferrule program to run")
    parser.add_argument("--wine", required=wine_required, help="the Wine loader; the program is then ferrule.exe")
    parser.add_argument("--prefix", required=wine_required, help="the Wine prefix with the test server registered")


def wine_runner_from_command_line(description):
    """The runner of a Wine test script whose command line names the exe, the
    Wine loader and the prefix, and perhaps asks for a console (--console)."""
    parser = argparse.ArgumentParser(description=description)
    add_runner_arguments(parser, wine_required=True)
    parser.add_argument("--console", action="store_true", help="run ferrule.exe on a console")
    args = parser.parse_args()
    return (Console if args.console else Wine)(args.ferrule, args.wine, args.prefix)


def runner_from_arguments(args):
    """The runner that the options of add_runner_arguments name."""
    return Wine(args.ferrule, args.wine, args.prefix) if args.wine else Native(args.ferrule)


def program_word(argv0):
    """The program's name that a command line's first element gives."""
    words = shlex.split(argv0)
    return words[0] if words else ""


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def usage_program(stdout):
    """The program name that a usage line shows."""
    prefix = b"usage: "
    if stdout.startswith(prefix):
        end = stdout.find(b" [class ")
        if end > 0:
            return stdout[len(prefix):end]
    return None


def output_file(output):
    """Where a run's standard output goes: a temporary file to read back, the
    file that a case names, or a pipe whose read end is already closed."""
    if output == CLOSED_PIPE:
        read_end, write_end = os.pipe()
        os.close(read_end)
        return os.fdopen(write_end, "wb")
    return open(output, "wb") if output else tempfile.TemporaryFile()


def run_program(command, env, executable=None, output=None):
    """Runs a program and returns its exit status, standard output and standard
    error. The output goes through files, not pipes: a Wine service that a run
    starts inherits them and lives on, and a pipe would stay open until it ends.
    With output, standard output goes to that file instead, and is not read."""
    with output_file(output) as out, tempfile.TemporaryFile() as err:
        status = subprocess.run(command, executable=executable, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                env=env, timeout=120).returncode
        err.seek(0)
        if output:
            return status, b"", err.read()
        out.seek(0)
        return status, out.read(), err.read()


def run_started(runner, arguments, machine_file, journal, argv0=None, output=None):
    """One run of ferrule on the machine file, with a fresh journal, made once
    more if it never started: its exit status, what the program printed (not
    normalised), and its standard error."""
    for attempt in (1, 2):
        if os.path.exists(journal):
            os.remove(journal)
        env = dict(runner.environment(machine_file, journal), **runner.command_environment(arguments, argv0))
        status, stdout, stderr = run_program(runner.command(arguments, argv0), env, runner.executable(), output)
        stdout = runner.printed(stdout, journal)
        if attempt == 2 or not runner.never_started(stdout, journal):
            break
        # Under load, Wine has now and then ended a run with status 1 before
        # the program printed anything or made a single call; a fault of the
        # program's own would do the same again.
        print(f"note: {shlex.join(arguments)}: exit status {status}, no output and no platform call; "
              f"standard error {stderr!r}; run again once")
    return status, stdout, stderr


def run_ferrule(runner, arguments, machine_file, workdir, argv0=None, output=None):
    """One run of ferrule on the machine file, with a fresh journal: its exit
    status, its normalised standard output, its standard error, and where the
    journal is."""
    journal = os.path.join(workdir, "journal.txt")
    status, stdout, stderr = run_started(runner, arguments, machine_file, journal, argv0, output)
    return status, runner.normalise(stdout), stderr, journal


def check_run(run, runner, machine_file, workdir):
    status, stdout, stderr, journal = run_ferrule(runner, run.arguments, machine_file, workdir, run.argv0,
                                                  run.output)
    expected = runner.encode("".join(line + "\n" for line in run.lines))
    name = runner.program_name(run.argv0)
    if b"{program}" in expected and usage_program(stdout) == name:
        stdout = stdout.replace(b"usage: " + name, b"usage: {program}", 1)
    failures = []
    if stdout != expected:
        failures.append("standard output differs\n--- expected\n" + expected.decode("utf-8", "replace") +
                        "--- got\n" + stdout.decode("utf-8", "replace"))
    if run.status is not None and status != run.status:
        failures.append(f"exit status {status}, expected {run.status}")
    if run.no_journal and os.path.exists(journal) and os.path.getsize(journal) > 0:
        with open(journal, encoding="utf-8") as f:
            failures.append("platform calls were made:\n" + f.read())
    if stderr and (failures or not isinstance(runner, Wine)):
        failures.append("standard error: " + stderr.decode("utf-8", "replace"))
    return failures


def add_lines(path, lines):
    with open(path, "a", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))


def remove_lines(path, lines):
    """Takes a run's own lines out of the machine again, wherever Apply put them."""
    if not lines:
        return
    with open(path, encoding="utf-8") as f:
        kept = [line for line in f.read().split("\n") if line.strip() not in lines]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(kept))


def has_locale(name):
    """Whether glibc has the locale, which Wine needs to read arguments in it."""
    names = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    return name.lower().replace("utf-8", "utf8") in [known.lower() for known in names]


def run_case(path, runner):
    """True when the case passed, False when it failed, None when it was skipped."""
    case = Case(path)
    if isinstance(runner, Wine) and case.standin_only:
        print(f"SKIP {os.path.basename(path)}: {case.standin_only}")
        return None
    if isinstance(runner, Wine) and case.locale and not has_locale(case.locale):
        print(f"SKIP {os.path.basename(path)}: glibc has no {case.locale} here, and Wine would read the "
              "arguments as ASCII (tools/install-deps makes it)")
        return None
    if case.locale:
        runner = runner.in_locale(case.locale)
    with tempfile.TemporaryDirectory() as workdir:
        machine_file = os.path.join(workdir, "machine.txt")
        with open(machine_file, "w", encoding="utf-8") as f:
            f.write(case.machine_text())
        for index, run in enumerate(case.runs, 1):
            skipped = run.exe_only if not isinstance(runner, Wine) else run.standin_only
            skipped = skipped or runner.cannot_pass(run.arguments)
            if skipped:
                print(f"skip run {index}: {skipped}")
                continue
            add_lines(machine_file, run.extra)
            failures = check_run(run, runner, machine_file, workdir)
            remove_lines(machine_file, run.extra)
            if failures:
                print(f"FAIL {os.path.basename(path)}, run {index}: {shlex.join(run.arguments)}")
                for failure in failures:
                    print(failure)
                return False
    print(f"ok {os.path.basename(path)} ({len(case.runs)} runs on {runner.name})")
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    add_runner_arguments(parser)
    parser.add_argument("--lang", default="C.UTF-8", choices=sorted(OEM_CODE_PAGES), help="the locale under Wine")
    parser.add_argument("--program-folder", help="run ferrule.exe from a copy in a folder of this name")
    parser.add_argument("--console", action="store_true", help="run ferrule.exe on a console")
    parser.add_argument("--launcher", help="launch.exe, which starts ferrule.exe with a command line of a case's own")
    parser.add_argument("--code-page", type=int, choices=sorted(CodePageConsole.CODECS),
                        help="run ferrule.exe redirected by cmd on a console of this output code page")
    parser.add_argument("cases", nargs="+")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as copies:
        program = args.ferrule
        if args.program_folder:
            program = os.path.join(copies, args.program_folder, os.path.basename(args.ferrule))
            os.makedirs(os.path.dirname(program))
            shutil.copy(args.ferrule, program)
        runner = Native(program)
        if args.wine:
            runner = (Console if args.console else Wine)(program, args.wine, args.prefix, args.lang, args.launcher)
        if args.wine and args.code_page:
            runner = CodePageConsole(program, args.wine, args.prefix, args.lang, args.code_page)
        results = [run_case(path, runner) for path in args.cases]
    if False in results:
        sys.exit(1)
    # Every case skipped: CTest reports the test as skipped, not passed.
    sys.exit(SKIPPED if all(result is None for result in results) else 0)


if __name__ == "__main__":
    main()
