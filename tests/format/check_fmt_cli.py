#!/usr/bin/env python3
"""The skern-fmt command as a user runs it: files and standard input to
standard output, --check with its diff and exit status, --write with atomic
rewrites, several files with one broken, usage and version texts, and the
exact reports.

Usage: check_fmt_cli.py SKERN_FMT_BINARY

Run as root, the cases about permissions run as the user nobody, since root
may write anywhere.
"""
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

USAGE = (
    "Skerran formatter\n"
    "\n"
    "Usage:\n"
    "  skern-fmt [--check | --write] [<program.skr>...]\n"
    "\n"
    "Writes each program in canonical layout to standard output; with no\n"
    "program, or -, reads standard input.\n"
    "  --check  change nothing: show how each program would change, as a\n"
    "           unified diff, and exit with 1 if any would\n"
    "  --write  rewrite each program in place\n"
    "\n"
    "Examples:\n"
    "  skern-fmt examples/hello.skr\n"
    "  skern-fmt --write examples/*.skr\n"
    "  skern-fmt --check examples/*.skr\n"
)
VERSION = "skern-fmt 0.1.0\n"

# Tabs, 2-space and 8-space blocks, free spacing in expressions and headers,
# trailing spaces and three blank lines.
MESSY = (
    b"we declare add with a ,b->\n"
    b"council says:\n"
    b"\treturn a+b   \n"
    b"\n\n\n"
    b"on the iron throne:\n"
    b"  y is a blade with 3\n"
    b"  x is a blade with 0   \n"
    b"  x=1+2*( y )\n"
    b"  if x > 1:\n"
    b"          speak add with 1 ,2\n"
    b"  speak x\n"
)
CANONICAL = (
    b"we declare add with a, b ->\n"
    b"council says:\n"
    b"    return a + b\n"
    b"\n"
    b"on the iron throne:\n"
    b"    y is a blade with 3\n"
    b"    x is a blade with 0\n"
    b"    x = 1 + 2 * (y)\n"
    b"    if x > 1:\n"
    b"        speak add with 1, 2\n"
    b"    speak x\n"
)
DIFF = (
    "--- {name}\n"
    "+++ {name}\n"
    "@@ -1,13 +1,11 @@\n"
    "-we declare add with a ,b->\n"
    "+we declare add with a, b ->\n"
    " council says:\n"
    "-\treturn a+b   \n"
    "+    return a + b\n"
    " \n"
    "-\n"
    "-\n"
    " on the iron throne:\n"
    "-  y is a blade with 3\n"
    "-  x is a blade with 0   \n"
    "-  x=1+2*( y )\n"
    "-  if x > 1:\n"
    "-          speak add with 1 ,2\n"
    "-  speak x\n"
    "+    y is a blade with 3\n"
    "+    x is a blade with 0\n"
    "+    x = 1 + 2 * (y)\n"
    "+    if x > 1:\n"
    "+        speak add with 1, 2\n"
    "+    speak x\n"
)
BROKEN = b"on the iron throne:\n    speak 1\n\n    if aye:\n    speak 2\n"
BROKEN_REPORT = "parse error on line 5: expected an indented block\n"
BROKEN_EXPRESSION = b"on the iron throne:\n    speak 1 +\n"
BROKEN_EXPRESSION_REPORT = (
    "expression parse error:  --> 1:4\n  |\n1 | 1 +\n  |    ^---\n  |\n  = expected unary_expr\n"
)
MISSING = "I/O error: No such file or directory (os error 2)\n"
DENIED = "I/O error: Permission denied (os error 13)\n"

failures = []
checked = 0


def run(binary, args, stdin=b"", cwd=None, stdout=subprocess.PIPE, as_nobody=False, file_limit=None):
    def prepare():
        if file_limit is not None:
            # Ignored, SIGXFSZ stays ignored across exec: writing past the
            # limit then fails with EFBIG instead of ending the process.
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))
        if as_nobody:
            os.setgroups([])
            os.setgid(65534)
            os.setuid(65534)

    return subprocess.run([binary, *args], input=stdin, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE,
                          timeout=60, preexec_fn=prepare)


def expect(name, result, out, err, status):
    global checked
    checked += 1
    problems = []
    if out is not None:
        got = result.stdout
        want = out if isinstance(out, bytes) else out.encode()
        if got != want:
            problems.append(f"stdout {got!r}, expected {want!r}")
    got_err = result.stderr.decode("utf-8", "replace")
    if got_err != err:
        problems.append(f"stderr {got_err!r}, expected {err!r}")
    if result.returncode != status:
        problems.append(f"status {result.returncode}, expected {status}")
    if problems:
        failures.append(f"{name}: " + "; ".join(problems))


def expect_true(name, condition, detail=""):
    global checked
    checked += 1
    if not condition:
        failures.append(f"{name}: {detail}" if detail else name)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def write(path, data, mode=0o644):
    with open(path, "wb") as file:
        file.write(data)
    os.chmod(path, mode)
    return path


def snapshot(path):
    info = os.stat(path)
    return read(path), info.st_ino, info.st_mtime_ns, stat.S_IMODE(info.st_mode)


def check_output_and_stdin(binary, work):
    messy = write(os.path.join(work, "messy.skr"), MESSY)
    canonical = write(os.path.join(work, "canonical.skr"), CANONICAL)
    broken = write(os.path.join(work, "broken.skr"), BROKEN)

    expect("a messy file", run(binary, [messy]), CANONICAL, "", 0)
    expect("a second pass changes nothing", run(binary, [], stdin=run(binary, [messy]).stdout), CANONICAL, "", 0)
    expect("no file reads standard input", run(binary, [], stdin=MESSY), CANONICAL, "", 0)
    expect("- reads standard input", run(binary, ["-"], stdin=MESSY), CANONICAL, "", 0)
    expect("files and - in order", run(binary, [canonical, "-"], stdin=MESSY), CANONICAL + CANONICAL, "", 0)
    expect_true("printing leaves the file as it was", read(messy) == MESSY)

    # Each file on its own: the broken one is reported, the others formatted.
    expect("one broken among several", run(binary, [messy, broken, canonical]), CANONICAL + CANONICAL,
           BROKEN_REPORT, 1)
    expect("an expression error's whole report", run(binary, ["-"], stdin=BROKEN_EXPRESSION), "",
           BROKEN_EXPRESSION_REPORT, 1)
    expect("a missing file among several", run(binary, [os.path.join(work, "none.skr"), canonical]), CANONICAL,
           MISSING, 1)
    expect("a directory", run(binary, [work]), "", "I/O error: Is a directory (os error 21)\n", 1)
    latin1 = write(os.path.join(work, "latin1.skr"), b'on the iron throne:\n    speak "caf\xe9"\n')
    expect("not UTF-8", run(binary, [latin1]), "", "I/O error: stream did not contain valid UTF-8\n", 1)
    with open("/dev/full", "wb") as full:
        expect("output to a full device", run(binary, [messy, canonical], stdout=full), None,
               "I/O error: No space left on device (os error 28)\n", 1)


def check_check(binary, work):
    messy = write(os.path.join(work, "messy.skr"), MESSY)
    canonical = write(os.path.join(work, "canonical.skr"), CANONICAL)
    broken = write(os.path.join(work, "broken.skr"), BROKEN)
    before = snapshot(messy)

    expect("--check, canonical", run(binary, ["--check", canonical]), "", "", 0)
    expect("--check, messy", run(binary, ["--check", messy]), DIFF.format(name=messy), "", 1)
    expect_true("--check changes nothing", snapshot(messy) == before)
    expect("--check, from standard input", run(binary, ["--check"], stdin=MESSY), DIFF.format(name="<stdin>"), "", 1)
    expect("--check, several", run(binary, ["--check", canonical, broken, messy]), DIFF.format(name=messy),
           BROKEN_REPORT, 1)
    expect("--check, canonical and broken", run(binary, ["--check", canonical, broken]), "", BROKEN_REPORT, 1)

    # The diff is one that patch applies, giving the formatted text.
    if shutil.which("patch"):
        diff = run(binary, ["--check", "messy.skr"], cwd=work).stdout
        patched = subprocess.run(["patch", "-s", "-p0"], input=diff, cwd=work, capture_output=True, timeout=60)
        expect_true("patch applies the diff", patched.returncode == 0 and read(messy) == CANONICAL,
                    patched.stdout.decode() + patched.stderr.decode())
    # Line ends and a missing final line feed show in the diff.
    crlf = write(os.path.join(work, "crlf.skr"), b"on the iron throne:\r\n    speak 1")
    expect("--check, line ends", run(binary, ["--check", crlf]),
           f"--- {crlf}\n+++ {crlf}\n@@ -1,2 +1,2 @@\n-on the iron throne:\r\n-    speak 1\n"
           "\\ No newline at end of file\n+on the iron throne:\n+    speak 1\n", "", 1)


def check_write(binary, work):
    messy = write(os.path.join(work, "messy.skr"), MESSY, 0o640)
    script = write(os.path.join(work, "script.skr"), MESSY, 0o755)
    canonical = write(os.path.join(work, "canonical.skr"), CANONICAL)
    broken = write(os.path.join(work, "broken.skr"), BROKEN)
    untouched = snapshot(canonical)
    broken_before = snapshot(broken)

    expect("--write, several with one broken", run(binary, ["--write", messy, broken, script, canonical]), "",
           BROKEN_REPORT, 1)
    expect_true("--write rewrites", read(messy) == CANONICAL and read(script) == CANONICAL)
    expect_true("--write keeps the mode", stat.S_IMODE(os.stat(messy).st_mode) == 0o640 and
                stat.S_IMODE(os.stat(script).st_mode) == 0o755)
    expect_true("--write leaves a canonical file alone", snapshot(canonical) == untouched)
    expect_true("--write leaves a broken file alone", snapshot(broken) == broken_before)
    expect("--write, then --check", run(binary, ["--check", messy, script]), "", "", 0)
    expect_true("--write leaves no temporary file", sorted(os.listdir(work)) ==
                ["broken.skr", "canonical.skr", "messy.skr", "script.skr"], str(sorted(os.listdir(work))))

    # A link stays a link; its file is rewritten.
    os.symlink("script.skr", os.path.join(work, "link.skr"))
    write(script, MESSY, 0o755)
    expect("--write through a link", run(binary, ["--write", os.path.join(work, "link.skr")]), "", "", 0)
    expect_true("the link stays", os.path.islink(os.path.join(work, "link.skr")) and read(script) == CANONICAL)

    # A write that fails half way leaves the file as it was, and no temporary.
    write(messy, MESSY, 0o640)
    before = snapshot(messy)
    expect("--write, the file system refuses the bytes", run(binary, ["--write", messy], file_limit=20), "",
           "I/O error: File too large (os error 27)\n", 1)
    expect_true("a failed write leaves the file", snapshot(messy) == before)
    expect_true("a failed write leaves no temporary file", sorted(os.listdir(work)) ==
                ["broken.skr", "canonical.skr", "link.skr", "messy.skr", "script.skr"], str(sorted(os.listdir(work))))


def check_permissions(binary, work):
    """Folders and files that may not be written; as nobody when root."""
    as_nobody = os.geteuid() == 0
    locked_folder = os.path.join(work, "locked")
    os.mkdir(locked_folder)
    inside = write(os.path.join(locked_folder, "p.skr"), MESSY, 0o666)
    os.chmod(locked_folder, 0o555)
    open_folder = os.path.join(work, "open")
    os.mkdir(open_folder)
    os.chmod(open_folder, 0o777)
    read_only = write(os.path.join(open_folder, "p.skr"), MESSY, 0o444)
    before = (snapshot(inside), snapshot(read_only))

    expect("--write in a read-only folder", run(binary, ["--write", inside], as_nobody=as_nobody), "", DENIED, 1)
    expect("--write of a read-only file", run(binary, ["--write", read_only], as_nobody=as_nobody), "", DENIED, 1)
    expect_true("refused writes leave the files", (snapshot(inside), snapshot(read_only)) == before)
    expect_true("refused writes leave no temporary file",
                os.listdir(locked_folder) == ["p.skr"] and os.listdir(open_folder) == ["p.skr"])
    os.chmod(locked_folder, 0o755)


def check_arguments(binary, work):
    canonical = write(os.path.join(work, "canonical.skr"), CANONICAL)
    for flag in ("-h", "--help"):
        expect(flag, run(binary, [flag]), USAGE, "", 0)
    for flag in ("-V", "--version"):
        expect(flag, run(binary, [flag]), VERSION, "", 0)
    expect("--help after a file", run(binary, [canonical, "--help"]), USAGE, "", 0)
    expect("an unknown option", run(binary, ["--chek", canonical]), "",
           "unknown option `--chek` (see `skern-fmt --help`)\n", 2)
    expect("--check with --write", run(binary, ["--check", "--write", canonical]), "",
           "`--check` and `--write` cannot be used together\n", 2)
    expect("--write of standard input", run(binary, ["--write"]), "",
           "`--write` rewrites files: standard input cannot be rewritten\n", 2)
    expect("--write of -", run(binary, ["--write", canonical, "-"]), "",
           "`--write` rewrites files: standard input cannot be rewritten\n", 2)
    # After --, names that start with a dash are files.
    write(os.path.join(work, "-x.skr"), MESSY)
    expect("-- ends the options", run(binary, ["--", "-x.skr"], cwd=work), CANONICAL, "", 0)


def main():
    binary = os.path.abspath(sys.argv[1])
    for check in (check_output_and_stdin, check_check, check_write, check_permissions, check_arguments):
        work = tempfile.mkdtemp(prefix="skern-fmt-cli-")
        os.chmod(work, 0o755)  # for nobody, in the permission checks
        try:
            check(binary, work)
        finally:
            for root, folders, _ in os.walk(work):
                for folder in folders:
                    os.chmod(os.path.join(root, folder), 0o755)
            shutil.rmtree(work)
    if failures:
        print("\n".join(failures))
        print(f"{len(failures)} of {checked} skern-fmt checks failed")
        return 1
    print(f"{checked} skern-fmt checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
