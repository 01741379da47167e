#!/usr/bin/env python3
"""The skern command line: arguments, usage and version texts, source files
that cannot be read, and which streams get what.

Usage: check_cli.py SKERN_BINARY
"""
import os
import subprocess
import sys
import tempfile

USAGE = (
    "Skerran interpreter\n"
    "\n"
    "Usage:\n"
    "  skern <program.skr>\n"
    "\n"
    "Examples:\n"
    "  skern examples/hello.skr\n"
    "  skern examples/functions.skr\n"
)
VERSION = "skern 0.1.0\n"

failures = []
checked = 0


def run(binary, args, cwd=None, stdout=subprocess.PIPE):
    return subprocess.run([binary, *args], cwd=cwd, stdin=subprocess.DEVNULL, stdout=stdout,
                          stderr=subprocess.PIPE, timeout=60)


def expect(name, result, out, err, status):
    global checked
    checked += 1
    got_out = result.stdout.decode("utf-8", "replace") if result.stdout is not None else None
    got_err = result.stderr.decode("utf-8", "replace")
    problems = []
    if out is not None and got_out != out:
        problems.append(f"stdout {got_out!r}, expected {out!r}")
    if got_err != err:
        problems.append(f"stderr {got_err!r}, expected {err!r}")
    if result.returncode != status:
        problems.append(f"status {result.returncode}, expected {status}")
    if problems:
        failures.append(f"{name}: " + "; ".join(problems))


def main():
    binary = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as work:
        def write(name, data):
            path = os.path.join(work, name)
            with open(path, "wb") as file:
                file.write(data)
            return path

        program = write("two.skr", b"on the iron throne:\n    speak 1\n    speak 2\n")
        failing = write("fails.skr", b"on the iron throne:\n    speak 1\n    speak 2\n    speak 1 / 0\n")
        late_error = write("late.skr", b"on the iron throne:\n    speak 1\n    speak 2 +\n")
        returns = write("returns.skr", b"on the iron throne:\n    speak 1\n    return 0\n    speak 2\n")
        latin1 = write("latin1.skr", b"on the iron throne:\n    speak \"caf\xe9\"\n")
        bom = write("bom.skr", b"\xef\xbb\xbfon the iron throne:\n    speak 1\n")
        unreadable = write("unreadable.skr", b"on the iron throne:\n    speak 1\n")
        os.chmod(unreadable, 0)
        write("-v", b"on the iron throne:\n    speak \"a file named -v\"\n")

        # Usage and version: the first argument only, compared exactly.
        expect("no argument", run(binary, []), USAGE, "", 0)
        expect("-h", run(binary, ["-h"]), USAGE, "", 0)
        expect("--help", run(binary, ["--help"]), USAGE, "", 0)
        expect("-h with more", run(binary, ["-h", program]), USAGE, "", 0)
        expect("-V", run(binary, ["-V"]), VERSION, "", 0)
        expect("--version", run(binary, ["--version"]), VERSION, "", 0)
        expect("-V before a program", run(binary, ["-V", program]), VERSION, "", 0)
        expect("a program then --help", run(binary, [program, "--help"]), "1\n2\n", "", 0)
        expect("a program then more", run(binary, [program, "-V", "x", "y"]), "1\n2\n", "", 0)

        # Anything else, dashes included, is a path.
        missing = "I/O error: No such file or directory (os error 2)\n"
        expect("--HELP", run(binary, ["--HELP"], cwd=work), "", missing, 1)
        expect("-v names a file", run(binary, ["-v"], cwd=work), "a file named -v\n", "", 0)
        expect("-x", run(binary, ["-x"], cwd=work), "", missing, 1)
        expect("a missing file", run(binary, [os.path.join(work, "nothing.skr")]), "", missing, 1)
        expect("a directory", run(binary, [work]), "", "I/O error: Is a directory (os error 21)\n", 1)
        if os.geteuid() != 0:  # root reads any file
            expect("an unreadable file", run(binary, [unreadable]), "",
                   "I/O error: Permission denied (os error 13)\n", 1)
        expect("not UTF-8", run(binary, [latin1]), "", "I/O error: stream did not contain valid UTF-8\n", 1)
        expect("an empty path", run(binary, [""]), "", missing, 1)

        # Relative paths are taken from the current directory.
        expect("a relative path", run(binary, ["two.skr"], cwd=work), "1\n2\n", "", 0)

        # A byte-order mark stays in the text, so no top-level form matches.
        expect("byte-order mark", run(binary, [bom]), "",
               "parse error on line 1: expected `we declare ...` or `on the iron throne:`\n", 1)

        # Output before a runtime error stays, the report follows on stderr.
        expect("runtime error", run(binary, [failing]), "1\n2\n", "runtime error: cannot divide by zero\n", 1)
        # Nothing runs when any line fails to parse.
        result = run(binary, [late_error])
        expect("parse error runs nothing", result, "",
               "expression parse error:  --> 1:4\n  |\n1 | 2 +\n  |    ^---\n  |\n  = expected unary_expr\n", 1)
        # A return in the main block ends the run normally.
        expect("return in the main block", run(binary, [returns]), "1\n", "", 0)

        # Writing fails: the usage text and program output both report it.
        with open("/dev/full", "wb") as full:
            expect("usage to a full device", run(binary, [], stdout=full), None,
                   "I/O error: No space left on device (os error 28)\n", 1)
            expect("output to a full device", run(binary, [program], stdout=full), None,
                   "I/O error: No space left on device (os error 28)\n", 1)

    if failures:
        print("\n".join(failures))
        print(f"{len(failures)} of {checked} command-line checks failed")
        return 1
    print(f"{checked} command-line checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
