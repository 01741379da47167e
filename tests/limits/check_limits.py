#!/usr/bin/env python3
"""Resource limits of skern: deep nesting, huge inputs, broken streams and
exhausted memory.

Usage: check_limits.py SKERN [GROUP ...]

Runs every case of the named groups (all groups when none is named) against
the skern binary SKERN. Each case checks the exact exit status, that the
process was not killed by a signal, the exact standard error (or the first
line of a six-line expression report) and what reached standard output before
the failure. Large inputs are generated into a temporary directory.

Slow cases (a 100 MB file of statements) are skipped under sanitizer builds,
which run them ten to twenty times slower; SKERN_LIMITS_SLOW=1 runs them
anyway and SKERN_LIMITS_SLOW=0 skips them everywhere. Cases under an
address-space limit are skipped for AddressSanitizer builds, whose shadow
memory cannot be reserved under such a limit. A sanitizer build is recognised
by the sanitizer runtime's entry symbols in the binary.

Exit status: 0 when every case that ran passed, 1 when one failed, 77 when
every selected case was skipped; then the reasons also go to the file named
by SKERN_SKIP_NOTE, when it is set, for ctest's summary.
"""

import os
import re
import resource
import signal
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20

CALL_DEPTH = "runtime error: calls nest deeper than 200000 levels"
EXPR_DEPTH = "expression parse error: expression nests deeper than 2000 levels"
OUT_OF_MEMORY = "runtime error: out of memory"
EBADF = "I/O error: Bad file descriptor (os error 9)"
EISDIR = "I/O error: Is a directory (os error 21)"
ENOSPC = "I/O error: No space left on device (os error 28)"
EPIPE = "I/O error: Broken pipe (os error 32)"
ENOENT = "I/O error: No such file or directory (os error 2)"

# Why cases do not run under the sanitizers, as the output and ctest's
# summary say.
SLOW = ("a program of 100 MB runs ten to twenty times slower under the sanitizers; "
        "SKERN_LIMITS_SLOW=1 runs it here, and `cmake --workflow --preset clang` runs it")
UNDER_ADDRESS_LIMIT = ("AddressSanitizer cannot run under an address-space limit, as its shadow "
                       "memory alone needs more; `cmake --workflow --preset clang` runs it")

USAGE = ("Skerran interpreter\n\nUsage:\n  skern <program.skr>\n\n"
         "Examples:\n  skern examples/hello.skr\n  skern examples/functions.skr\n")

# A recursion whose depth is its argument plus one.
DOWN = """\
we declare down with n ->
council says:
    if n == 0:
        return 0
    return 1 + (down with n - 1)
"""

TWO_LINES = 'on the iron throne:\n    speak "one"\n    speak "two"\n'

# Doubles a scroll until memory runs out long before the 64th round.
DOUBLER = """\
on the iron throne:
    speak "start"
    s is a scroll with "x"
    the realm marches 64 times:
        s = s + s
    speak "unreached"
"""


def recursion(depth, before=""):
    return (DOWN + "on the iron throne:\n" + before +
            "    speak down with %d\n" % (depth - 1))


def wrap(number):
    """The blade that two's-complement arithmetic leaves of `number`."""
    number %= 1 << 64
    return number - (1 << 64) if number >= 1 << 63 else number


def speak_program(expression):
    return ("we declare f with x ->\ncouncil says:\n    return x\n"
            "we declare g with a, b ->\ncouncil says:\n    return a + b\n"
            'on the iron throne:\n    speak "pre"\n    speak ' + expression + "\n")


def nested_ifs(depth, indent="    "):
    lines = ["on the iron throne:", indent + 'speak "start"']
    for level in range(1, depth + 1):
        lines.append(indent * level + "if aye:")
    lines.append(indent * (depth + 1) + 'speak "deep"')
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# Running skern
# ---------------------------------------------------------------------------

class Outcome:
    def __init__(self, status, stdout, stderr, seconds):
        self.status = status
        self.stdout = stdout
        self.stderr = stderr
        self.seconds = seconds


class Skipped(Exception):
    """A case that cannot run on this build or machine."""


class CaseFailure(Exception):
    pass


def shorten(data, limit=200):
    text = data.decode("utf-8", "replace") if isinstance(data, bytes) else data
    if len(text) <= limit:
        return repr(text)
    return "%r... (%d characters)" % (text[:limit], len(text))


def limits(address_space_mib=None, stack_mib=None, close=(), address_space_kib=None):
    """A preexec function: no core files, optional limits, closed descriptors."""
    def apply():
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        if stack_mib is not None:
            _, hard = resource.getrlimit(resource.RLIMIT_STACK)
            soft = stack_mib * MIB
            if hard != resource.RLIM_INFINITY:
                soft = min(soft, hard)
            resource.setrlimit(resource.RLIMIT_STACK, (soft, hard))
        if address_space_mib is not None or address_space_kib is not None:
            size = address_space_mib * MIB if address_space_mib is not None \
                else address_space_kib * 1024
            resource.setrlimit(resource.RLIMIT_AS, (size, size))
        for fd in close:
            os.close(fd)
    return apply


class Suite:
    def __init__(self, skern, workdir):
        self.skern = skern
        self.workdir = workdir
        with open(skern, "rb") as binary:
            image = binary.read()
        self.asan = b"__asan_init" in image
        # A coverage build's child processes write counter files, which an
        # unprivileged child cannot.
        self.instrumented = b"__gcov_" in image
        self.sanitized = self.asan or any(
            marker in image for marker in (b"__ubsan_handle", b"__tsan_init", b"__msan_init"))
        wanted = os.environ.get("SKERN_LIMITS_SLOW")
        self.run_slow = (wanted == "1") if wanted in ("0", "1") else not self.sanitized
        self.counter = 0

    def path(self, name):
        return os.path.join(self.workdir, name)

    def write(self, name, text):
        path = self.path(name)
        with open(path, "w", encoding="utf-8", newline="\n") as out:
            out.write(text)
        return path

    def write_lines(self, name, head, line, count, tail):
        """Writes head, `count` copies of line and tail, in pieces."""
        path = self.path(name)
        with open(path, "w", encoding="utf-8", newline="\n") as out:
            out.write(head)
            piece = 10000
            for _ in range(count // piece):
                out.write(line * piece)
            out.write(line * (count % piece))
            out.write(tail)
        return path

    def program(self, text):
        self.counter += 1
        return self.write("program%d.skr" % self.counter, text)

    def run(self, args, stdin=None, stdout=None, preexec=None, timeout=300):
        """Runs skern with `args`; stdin and stdout are file objects, byte
        strings (stdin only) or None (empty input, captured output)."""
        if isinstance(args, str):
            args = [args]
        stdin_file = stdin
        if stdin is None:
            stdin_file = subprocess.DEVNULL
        elif isinstance(stdin, bytes):
            path = self.path("stdin%d" % self.counter)
            with open(path, "wb") as out:
                out.write(stdin)
            stdin_file = open(path, "rb")
        capture = stdout is None
        stdout_file = open(self.path("stdout"), "w+b") if capture else stdout
        stderr_file = open(self.path("stderr"), "w+b")
        started = time.monotonic()
        try:
            process = subprocess.run(
                [self.skern] + args, stdin=stdin_file, stdout=stdout_file,
                stderr=stderr_file, preexec_fn=preexec or limits(), timeout=timeout)
        except subprocess.TimeoutExpired:
            raise CaseFailure("no result within %d seconds" % timeout)
        finally:
            if isinstance(stdin, bytes):
                stdin_file.close()
        seconds = time.monotonic() - started
        output = b""
        if capture:
            stdout_file.seek(0)
            output = stdout_file.read()
            stdout_file.close()
        stderr_file.seek(0)
        errors = stderr_file.read()
        stderr_file.close()
        return Outcome(process.returncode, output, errors, seconds)

    @staticmethod
    def expect(outcome, status, stdout=None, stderr="", stderr_first_line=None):
        """Checks one outcome; stdout None means that it is not looked at."""
        problems = []
        if outcome.status < 0:
            problems.append("killed by signal %s" % signal.Signals(-outcome.status).name)
        elif outcome.status != status:
            problems.append("exit status %d, expected %d" % (outcome.status, status))
        if stderr_first_line is not None:
            first = outcome.stderr.split(b"\n", 1)[0]
            if first != stderr_first_line.encode():
                problems.append("first line of standard error %s, expected %r"
                                % (shorten(first), stderr_first_line))
        elif outcome.stderr != (stderr + "\n" if stderr else "").encode():
            problems.append("standard error %s, expected %r" % (shorten(outcome.stderr), stderr))
        if stdout is not None:
            expected = stdout.encode() if isinstance(stdout, str) else stdout
            if outcome.stdout != expected:
                problems.append("standard output %s, expected %s"
                                % (shorten(outcome.stdout), shorten(expected)))
        if problems:
            raise CaseFailure("; ".join(problems))

    @staticmethod
    def expect_orderly(outcome, full_stdout, allowed_errors, partial_stdout=("",)):
        """A run under a resource limit: either it finished normally, or it
        ended with status 1 and one of the allowed reports, no signal."""
        if outcome.status < 0:
            raise CaseFailure("killed by signal %s; standard error %s"
                              % (signal.Signals(-outcome.status).name, shorten(outcome.stderr)))
        if outcome.status == 0:
            Suite.expect(outcome, 0, full_stdout)
            return
        if outcome.status != 1:
            raise CaseFailure("exit status %d" % outcome.status)
        report = outcome.stderr.decode("utf-8", "replace")
        if report.rstrip("\n") not in allowed_errors or not report.endswith("\n") \
                or report.count("\n") != 1:
            raise CaseFailure("standard error %s, expected one of %r"
                              % (shorten(outcome.stderr), allowed_errors))
        if outcome.stdout.decode("utf-8", "replace") not in partial_stdout:
            raise CaseFailure("standard output %s, expected one of %r"
                              % (shorten(outcome.stdout), partial_stdout))


CASES = []


def case(group, slow=False, address_limit=False):
    def register(function):
        CASES.append((group, function.__name__, function, slow, address_limit))
        return function
    return register


# ---------------------------------------------------------------------------
# Calls nested by recursion
# ---------------------------------------------------------------------------

@case("recursion")
def recursion_100000_deep(suite):
    suite.expect(suite.run(suite.program(recursion(100000))), 0, "99999\n")


@case("recursion")
def recursion_at_the_call_depth_limit(suite):
    # 200000 nested calls are allowed, one more is not.
    suite.expect(suite.run(suite.program(recursion(200000))), 0, "199999\n")
    suite.expect(suite.run(suite.program(recursion(200001, '    speak "before"\n'))),
                 1, "before\n", CALL_DEPTH)


@case("recursion")
def recursion_1000000_deep(suite):
    suite.expect(suite.run(suite.program(recursion(1000000, '    speak "before"\n'))),
                 1, "before\n", CALL_DEPTH)


@case("recursion")
def mutual_recursion_1000000_deep(suite):
    program = """\
we declare even with n ->
council says:
    if n == 0:
        return aye
    return odd with n - 1
we declare odd with n ->
council says:
    if n == 0:
        return nay
    return even with n - 1
on the iron throne:
    speak even with 150000
    speak odd with 150001
    speak even with 1000000
"""
    suite.expect(suite.run(suite.program(program)), 1, "aye\naye\n", CALL_DEPTH)


def heavy_frames(blocks, parens, depth):
    """A recursion whose every call stands under `blocks` nested blocks and
    inside `parens` parentheses, the most the parser admits."""
    lines = DOWN.splitlines()[:4]
    indent = "\t"
    for _ in range(blocks):
        lines.append(indent + "if aye:")
        indent += "\t"
    lines.append(indent + "return " + "(" * parens + "1 + (down with n - 1)" + ")" * parens)
    lines.append("on the iron throne:")
    lines.append("    speak down with %d" % (depth - 1))
    return "\n".join(lines) + "\n"


@case("recursion")
def recursion_with_the_deepest_frames(suite):
    # Calls do not recurse on the machine stack, so even calls under the
    # deepest blocks and expressions go on to the call-depth limit.
    suite.expect(suite.run(suite.program(heavy_frames(1997, 1996, 11))), 0, "10\n")
    suite.expect(suite.run(suite.program(heavy_frames(1997, 1996, 100000))), 0, "99999\n")
    suite.expect(suite.run(suite.program(heavy_frames(1997, 1996, 1000000))), 1, "", CALL_DEPTH)


# ---------------------------------------------------------------------------
# Expressions: nesting, unary runs and long chains
# ---------------------------------------------------------------------------

@case("expressions")
def parentheses_1000_deep(suite):
    text = "(" * 1000 + "6 * 7" + ")" * 1000
    suite.expect(suite.run(suite.program(speak_program(text))), 0, "pre\n42\n")
    text = "(" * 500 + "(1 + 2) * (" * 499 + "5" + ")" * 499 + ")" * 500 + " - 4"
    suite.expect(suite.run(suite.program(speak_program(text))), 0,
                 "pre\n%d\n" % wrap(wrap(5 * 3 ** 499) - 4))


@case("expressions")
def parentheses_at_the_nesting_limit(suite):
    # The whole expression is one level, each parenthesis one more.
    text = "(" * 1999 + "7" + ")" * 1999
    suite.expect(suite.run(suite.program(speak_program(text))), 0, "pre\n7\n")
    text = "(" * 2000 + "7" + ")" * 2000
    suite.expect(suite.run(suite.program(speak_program(text))), 1, "", EXPR_DEPTH)


@case("expressions")
def parentheses_100000_deep(suite):
    for text in ("(" * 100000 + "7" + ")" * 100000,   # balanced
                 "(" * 100000,                       # never closed
                 "-(" * 100000 + "1" + ")" * 100000):  # unary before each
        suite.expect(suite.run(suite.program(speak_program(text))), 1, "", EXPR_DEPTH)


@case("expressions")
def calls_nested_in_arguments(suite):
    # A call's arguments are one level more than the call. As last arguments
    # without parentheses, calls nest as deep as parentheses do.
    suite.expect(suite.run(suite.program(speak_program("f with " * 1999 + "3"))), 0, "pre\n3\n")
    suite.expect(suite.run(suite.program(speak_program("f with " * 2000 + "3"))), 1, "", EXPR_DEPTH)
    # A call in parentheses as an argument adds two levels, its argument and
    # its parentheses: 1000 such calls fit, one inside the other, 1001 do not.
    for calls, fits in ((1000, True), (1001, False)):
        for text, value in (("f with (" * (calls - 1) + "f with 3" + ")" * (calls - 1), 3),
                            ("g with (" * (calls - 1) + "g with 1, 2" + "), 2" * (calls - 1),
                             1 + 2 * calls)):
            if fits:
                suite.expect(suite.run(suite.program(speak_program(text))), 0, "pre\n%d\n" % value)
            else:
                suite.expect(suite.run(suite.program(speak_program(text))), 1, "", EXPR_DEPTH)
    suite.expect(suite.run(suite.program(speak_program("f with " * 100000 + "3"))), 1, "",
                 EXPR_DEPTH)
    # An argument reaches to the end of the chain, so this nests too.
    suite.expect(suite.run(suite.program(speak_program("f with 1 + " * 100000 + "1"))), 1, "",
                 EXPR_DEPTH)


@case("expressions")
def unary_runs_of_100000(suite):
    for text, value in (("-" * 100000 + "5", "5"), ("-" * 100001 + "5", "-5"),
                        ("- " * 100001 + "2.5", "-2.5"),
                        ("!" * 100000 + "aye", "aye"), ("!" * 100001 + "aye", "nay"),
                        ("-" * 100000 + "(" * 1999 + "-" * 100001 + "9" + ")" * 1999, "-9")):
        suite.expect(suite.run(suite.program(speak_program(text))), 0, "pre\n%s\n" % value)


@case("expressions")
def unary_runs_that_fail(suite):
    suite.expect(suite.run(suite.program(speak_program("!" * 100000 + "5"))), 1, "pre\n",
                 "runtime error: cannot apply `!` to blade")
    suite.expect(suite.run(suite.program(speak_program("-" * 100000 + '"x"'))), 1, "pre\n",
                 "runtime error: cannot apply `-` to scroll")
    # Nothing after the operators: the report points past the last one.
    suite.expect(suite.run(suite.program(speak_program("-" * 100000))), 1, "",
                 stderr_first_line="expression parse error:  --> 1:100001")


@case("expressions")
def chains_on_a_1mb_line(suite):
    count = 250000  # " + 1" is four bytes: a line of a million bytes
    for text, value in (("1" + " + 1" * count, count + 1),
                        ("1" + " - 1" * count, 1 - count),
                        ("0" + " + 3 - 1" * (count // 2), count),
                        ("2" + " * 1" * count + " - 3", -1),
                        ("-1" + " + -1" * count, -(count + 1)),
                        ("(1 + 1)" + " + (1 + 1)" * (count // 3), 2 * (count // 3 + 1))):
        suite.expect(suite.run(suite.program(speak_program(text))), 0, "pre\n%d\n" % value)
    # One precedence level, grouped from the left: ((aye == aye) == aye) ...
    suite.expect(suite.run(suite.program(speak_program("aye" + " == aye" * 200000))), 0,
                 "pre\naye\n")
    suite.expect(suite.run(suite.program(speak_program("1" + " == 1" * 200000))), 0,
                 "pre\nnay\n")
    suite.expect(suite.run(suite.program(speak_program("0.5" + " + 0.5" * 199999))), 0,
                 "pre\n100000\n")
    suite.expect(suite.run(suite.program(speak_program('"ab"' + ' + "ab"' * 199999))), 0,
                 "pre\n" + "ab" * 200000 + "\n")
    # A chain that fails at its far end has still evaluated every operand.
    suite.expect(suite.run(suite.program(speak_program("1" + " + 1" * count + ' + "x"'))), 1,
                 "pre\n", "runtime error: cannot apply `+` to blade and scroll")


# ---------------------------------------------------------------------------
# Blocks nested by indentation
# ---------------------------------------------------------------------------

@case("blocks")
def blocks_1000_deep(suite):
    suite.expect(suite.run(suite.program(nested_ifs(1000))), 0, "start\ndeep\n")
    suite.expect(suite.run(suite.program(nested_ifs(1000, "\t"))), 0, "start\ndeep\n")


@case("blocks")
def blocks_at_the_nesting_limit(suite):
    # The main block is one level and each `if` adds one; the line of the
    # first block too deep is reported (line 1 is the header, line 2 a
    # statement, line k + 2 the k-th `if`).
    suite.expect(suite.run(suite.program(nested_ifs(1999, "\t"))), 0, "start\ndeep\n")
    suite.expect(suite.run(suite.program(nested_ifs(2000, "\t"))), 1, "",
                 "parse error on line 2003: blocks nest deeper than 2000 levels")


@case("blocks")
def blocks_10000_deep(suite):
    suite.expect(suite.run(suite.program(nested_ifs(10000, "\t"))), 1, "",
                 "parse error on line 2003: blocks nest deeper than 2000 levels")


@case("blocks")
def mixed_blocks_deep(suite):
    # Loops and else branches nest like `if`, in a function body as well.
    lines = ["we declare deep with n ->", "council says:"]
    indent = "\t"
    for level in range(1999):
        kind = level % 3
        if kind == 0:
            lines.append(indent + "the realm marches 1 times:")
        elif kind == 1:
            lines += [indent + "if nay:", indent + '\tspeak "wrong"', indent + "else:"]
        else:
            lines.append(indent + "if n == n:")
        indent += "\t"
    lines.append(indent + "return n * 2")
    lines += ["on the iron throne:", "    speak deep with 21"]
    suite.expect(suite.run(suite.program("\n".join(lines) + "\n")), 0, "42\n")
    # One level more: the body of this `if` is the first block too deep
    # (the lines of each `else` count in its line number).
    lines.insert(-3, indent + "if aye:")
    lines.insert(-3, indent + "\treturn 0")
    first_too_deep = len(lines) - 3  # 1-based number of "return 0"
    suite.expect(suite.run(suite.program("\n".join(lines) + "\n")), 1, "",
                 "parse error on line %d: blocks nest deeper than 2000 levels" % first_too_deep)


# ---------------------------------------------------------------------------
# Large source files and long lines
# ---------------------------------------------------------------------------

def comment_file(suite, tail):
    """About 100 MB: a main block, then a million comment, blank and
    whitespace-only lines, then `tail`."""
    line = "// " + "c" * 60 + "\n" + " \t \n" + "   \t  // " + "d" * 28 + "\n"
    return suite.write_lines("comments.skr", 'on the iron throne:\n    speak "begin"\n',
                             line, 1000000, tail)


@case("source")
def source_of_100mb_comments(suite):
    path = comment_file(suite, '    speak "end"\n')
    if os.path.getsize(path) < 100 * 1000 * 1000:
        raise CaseFailure("generated file too small")
    suite.expect(suite.run(path), 0, "begin\nend\n")
    # Line numbers still count every physical line.
    path = comment_file(suite, "    else:\n")
    suite.expect(suite.run(path), 1, "",
                 "parse error on line 3000003: `else:` must follow an `if` block")


# Its own group, so that ctest shows it as skipped where it is.
@case("statements", slow=True)
def source_of_100mb_statements(suite):
    line = "    total = total + 1 // " + "p" * 75 + "\n"
    path = suite.write_lines("statements.skr",
                             "on the iron throne:\n    total is a blade with 0\n",
                             line, 1000000, "    speak total\n")
    suite.expect(suite.run(path), 0, "1000000\n")


@case("source")
def line_of_10mb(suite):
    text = "".join(chr(ord("a") + i % 26) for i in range(1000)) * 10000
    program = ('on the iron throne:\n    speak "' + text + '"\n    speak "after"\n'
               "    s is a scroll with \"" + text + "\"\n    speak s == (s + \"\")\n"
               "    speak 1 // " + text + "\n")
    suite.expect(suite.run(suite.program(program)), 0, text + "\nafter\naye\n1\n")


# ---------------------------------------------------------------------------
# Large standard input
# ---------------------------------------------------------------------------

@case("input")
def input_line_of_100mb(suite):
    program = """\
on the iron throne:
    s is a scroll with ""
    s speaks for input
    t is a scroll with s
    speak s == t
    speak s == (t + "x")
    speak (s + "!") == (t + "!")
    t speaks for input
    speak t
    t speaks for input
    speak t == ""
"""
    path = suite.path("huge.txt")
    with open(path, "wb") as out:
        piece = b"ab" * (MIB // 2)
        for _ in range(100):
            out.write(piece)
        out.write(b"\nshort\n")
    with open(path, "rb") as stdin:
        outcome = suite.run(suite.program(program), stdin=stdin)
    suite.expect(outcome, 0, "aye\nnay\naye\nshort\naye\n")
    return outcome.seconds


def child_cpu_seconds(action):
    """The processor time (user and system) that children spend in action."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    action()
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


@case("input")
def input_line_time_grows_linearly(suite):
    # Eight times the line should cost about eight times the time; a reader
    # that rescans what it has buffered for every new piece costs sixty-four.
    # Processor time, not wall time, so that a busy machine does not matter.
    program = suite.program('on the iron throne:\n    s is a scroll with ""\n'
                            '    s speaks for input\n    speak "read"\n')
    path = suite.path("line.txt")
    seconds = {}
    for mib in (16, 128):
        with open(path, "wb") as out:
            piece = b"ab" * (MIB // 2)
            for _ in range(mib):
                out.write(piece)
            out.write(b"\n")

        def read_it():
            with open(path, "rb") as stdin:
                suite.expect(suite.run(program, stdin=stdin), 0, "read\n")
        seconds[mib] = child_cpu_seconds(read_it)
    ratio = seconds[128] / max(seconds[16], 0.05)
    if ratio > 24:
        raise CaseFailure("reading a 16 MiB line took %.2f s of processor time, a 128 MiB line "
                          "%.2f s: %.0f times as long" % (seconds[16], seconds[128], ratio))
    return seconds[128]


@case("input")
def input_line_of_10mb_without_line_feed(suite):
    program = """\
on the iron throne:
    s is a scroll with ""
    s speaks for input
    speak s
    s speaks for input
    speak s == ""
"""
    text = "xyz" * (10 * MIB // 3)
    suite.expect(suite.run(suite.program(program), stdin=text.encode()), 0, text + "\naye\n")


@case("input")
def million_input_lines(suite):
    program = """\
on the iron throne:
    total is a blade with 0
    n is a blade with 0
    the realm marches 1000000 times:
        n speaks for input
        total = total + n
    speak total
"""
    data = "".join("%d\n" % (i % 1000) for i in range(1000000)).encode()
    outcome = suite.run(suite.program(program), stdin=data)
    suite.expect(outcome, 0, "%d\n" % (sum(range(1000)) * 1000))
    return outcome.seconds


# ---------------------------------------------------------------------------
# Growing scrolls
# ---------------------------------------------------------------------------

@case("scroll")
def scroll_of_1000000_concatenations(suite):
    program = """\
on the iron throne:
    s is a scroll with ""
    the realm marches 1000000 times:
        s = s + "x"
    t is a scroll with "x"
    the realm marches 20 times:
        t = t + t
    u is a scroll with ""
    the realm marches 15625 times:
        u = u + "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
    speak s == u
    speak s == t
    speak (s + "x") == u
    v is a scroll with s
    the realm marches 48576 times:
        v = v + "x"
    speak v == t
    speak s == u
"""
    outcome = suite.run(suite.program(program))
    suite.expect(outcome, 0, "aye\nnay\nnay\naye\naye\n")
    if outcome.seconds > 10:
        raise CaseFailure("took %.1f seconds" % outcome.seconds)
    return outcome.seconds


# ---------------------------------------------------------------------------
# Standard streams that fail
# ---------------------------------------------------------------------------

READER = """\
on the iron throne:
    speak "asking"
    s is a scroll with ""
    s speaks for input
    speak s
"""

MANY_LINES = """\
on the iron throne:
    the realm marches 100000 times:
        speak "line"
    speak "unreached"
"""


@case("streams")
def standard_output_closed(suite):
    suite.expect(suite.run(suite.program(TWO_LINES), preexec=limits(close=(1,))), 1, None, EBADF)
    suite.expect(suite.run("--help", preexec=limits(close=(1,))), 1, None, EBADF)


@case("streams")
def standard_output_full(suite):
    with open("/dev/full", "wb") as full:
        suite.expect(suite.run(suite.program(TWO_LINES), stdout=full), 1, None, ENOSPC)
        # The usage and version texts cannot be written either.
        for args in (["--help"], ["-h"], [], ["-V"], ["--version"]):
            suite.expect(suite.run(args, stdout=full), 1, None, ENOSPC)


@case("streams")
def reader_goes_away(suite):
    # Like `skern prog.skr | head -n 1`. The child starts with the default
    # action for SIGPIPE, so surviving it is skern's own doing.
    errors = open(suite.path("pipe-stderr"), "w+b")
    process = subprocess.Popen([suite.skern, suite.program(MANY_LINES)], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=errors, preexec_fn=limits(),
                               restore_signals=True)
    first = process.stdout.readline()
    process.stdout.close()
    status = process.wait(timeout=120)
    errors.seek(0)
    outcome = Outcome(status, first, errors.read(), 0)
    errors.close()
    suite.expect(outcome, 1, "line\n", EPIPE)


@case("streams")
def pipe_closed_before_start(suite):
    read_end, write_end = os.pipe()
    os.close(read_end)
    with os.fdopen(write_end, "wb") as stdout:
        suite.expect(suite.run(suite.program(TWO_LINES), stdout=stdout), 1, None, EPIPE)
        suite.expect(suite.run("--version", stdout=stdout), 1, None, EPIPE)


@case("streams")
def standard_input_closed(suite):
    suite.expect(suite.run(suite.program(READER), preexec=limits(close=(0,))), 1, "asking\n",
                 EBADF)
    # A program that never reads does not notice.
    suite.expect(suite.run(suite.program(TWO_LINES), preexec=limits(close=(0,))), 0,
                 "one\ntwo\n")


@case("streams")
def standard_input_a_directory(suite):
    directory = os.open(suite.workdir, os.O_RDONLY | os.O_DIRECTORY)
    try:
        suite.expect(suite.run(suite.program(READER), stdin=directory), 1, "asking\n", EISDIR)
    finally:
        os.close(directory)


@case("streams")
def standard_error_closed(suite):
    program = 'on the iron throne:\n    speak "a"\n    speak 1 / 0\n'
    outcome = suite.run(suite.program(program), preexec=limits(close=(2,)))
    suite.expect(outcome, 1, "a\n", "")


@case("streams")
def source_path_not_a_file(suite):
    suite.expect(suite.run(suite.workdir), 1, "", EISDIR)
    suite.expect(suite.run(suite.path("missing.skr")), 1, "", ENOENT)
    suite.expect(suite.run(suite.path("missing") + "/x.skr"), 1, "", ENOENT)
    suite.expect(suite.run(suite.program(TWO_LINES) + "/x.skr"), 1, "",
                 "I/O error: Not a directory (os error 20)")


# ---------------------------------------------------------------------------
# Memory exhaustion under an address-space limit
# ---------------------------------------------------------------------------

@case("memory", address_limit=True)
def scroll_doubling_under_512mib(suite):
    outcome = suite.run(suite.program(DOUBLER), preexec=limits(512))
    suite.expect(outcome, 1, "start\n", OUT_OF_MEMORY)
    return outcome.seconds


@case("memory", address_limit=True)
def small_programs_under_512mib(suite):
    # The large thread stack cannot be had here; smaller ones must do.
    suite.expect(suite.run(suite.program(TWO_LINES), preexec=limits(512)), 0, "one\ntwo\n")
    suite.expect(suite.run(suite.program(recursion(100000)), preexec=limits(512)), 0,
                 "99999\n")
    outcome = suite.run(suite.program(recursion(1000000, '    speak "before"\n')),
                        preexec=limits(512))
    suite.expect_orderly(outcome, None, (CALL_DEPTH, OUT_OF_MEMORY), ("before\n",))
    if outcome.status != 1:
        raise CaseFailure("a million nested calls succeeded")


@case("memory", address_limit=True)
def recursion_under_64mib(suite):
    outcome = suite.run(suite.program(recursion(100000, '    speak "before"\n')),
                        preexec=limits(64))
    suite.expect_orderly(outcome, "before\n99999\n", (OUT_OF_MEMORY,), ("before\n",))


@case("memory", address_limit=True)
def huge_source_under_64mib(suite):
    suite.expect(suite.run(comment_file(suite, '    speak "end"\n'), preexec=limits(64)),
                 1, "", OUT_OF_MEMORY)
    # Small text, but a tree too large for the memory left: a council's body
    # is kept whole for the run.
    path = suite.write_lines("council.skr", "we declare f with ->\ncouncil says:\n    x is a blade with 0\n",
                             "    x = x + 1\n", 2000000, "on the iron throne:\n    f with\n")
    suite.expect(suite.run(path, preexec=limits(64)), 1, "", OUT_OF_MEMORY)
    # A main block is compiled as it is read, and no tree of it is kept: a
    # million of the same statements run there.
    path = suite.write_lines("statements.skr", "on the iron throne:\n    x is a blade with 0\n",
                             "    x = x + 1\n", 1000000, "    speak x\n")
    suite.expect(suite.run(path, preexec=limits(64)), 0, "1000000\n", "")


@case("memory", address_limit=True)
def huge_input_line_under_64mib(suite):
    path = suite.path("huge.txt")
    with open(path, "wb") as out:
        piece = b"ab" * (MIB // 2)
        for _ in range(100):
            out.write(piece)
        out.write(b"\n")
    with open(path, "rb") as stdin:
        outcome = suite.run(suite.program(READER), stdin=stdin, preexec=limits(64))
    suite.expect(outcome, 1, "asking\n", OUT_OF_MEMORY)


def without_threads(stack_kib):
    """A preexec function: no thread can be started (the process limit is one,
    for an unprivileged user) and the main thread's stack is small, so the
    program runs on that stack."""
    def apply():
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        resource.setrlimit(resource.RLIMIT_NPROC, (1, 1))
        resource.setrlimit(resource.RLIMIT_STACK, (stack_kib * 1024, stack_kib * 1024))
        if os.geteuid() == 0:
            os.setgroups([])
            os.setgid(65534)
            os.setuid(65534)
    return apply


@case("tight_memory", address_limit=True)
def deep_nesting_on_a_small_main_stack(suite):
    """Where no thread with a large stack can be had, deep blocks, deep
    expressions and deep recursion end with an orderly report, not a crash."""
    if suite.instrumented and os.geteuid() == 0:
        raise Skipped("a coverage build cannot write its counters as another user")
    os.chmod(suite.workdir, 0o755)
    blocks = suite.program(nested_ifs(1999))
    expression = suite.program(speak_program("(" * 1990 + "1" + ")" * 1990))
    calls = suite.program(recursion(100000))
    for path in (blocks, expression, calls):
        os.chmod(path, 0o644)
    for kib in (1024, 256):
        outcome = suite.run(blocks, preexec=without_threads(kib))
        if outcome.status != 0:
            # Which line is too deep depends on the stack left: any line will do.
            if outcome.status < 0:
                raise CaseFailure("killed by signal %s" % signal.Signals(-outcome.status).name)
            if outcome.status != 1 or outcome.stdout != b"" or not re.fullmatch(
                    rb"parse error on line \d+: blocks nest too deeply for the available stack\n", outcome.stderr):
                raise CaseFailure("status %d, standard error %s" % (outcome.status, shorten(outcome.stderr)))
        else:
            suite.expect(outcome, 0, "start\ndeep\n")
        suite.expect_orderly(suite.run(expression, preexec=without_threads(kib)), "pre\n1\n",
                             ("expression parse error: expression nests too deeply for the available stack",))
        # Calls do not use the machine stack at all.
        suite.expect(suite.run(calls, preexec=without_threads(kib)), 0, "99999\n")


@case("tight_memory", address_limit=True)
def address_space_sweep(suite):
    """From the smallest address space in which the binary starts at all
    (below it the kernel cannot load it) up by 256 KiB steps over 32 MiB:
    every run ends normally or with an orderly report, never by a signal.
    Failures show up in narrow bands, hence the fine steps. The stack limit
    is the common default of 8 MiB."""
    floor = None
    for mib in range(1, 65):
        outcome = suite.run("--version", preexec=limits(mib, stack_mib=8))
        if outcome.status == 0 and outcome.stdout == b"skern 0.1.0\n":
            floor = mib
            break
    if floor is None:
        raise CaseFailure("skern --version never ran under 64 MiB")
    programs = (
        ("two lines", suite.program(TWO_LINES), "one\ntwo\n", ("",)),
        ("doubling", suite.program(DOUBLER), None, ("", "start\n")),
        ("recursion", suite.program(recursion(100000)), "99999\n", ("",)),
    )
    allowed = (OUT_OF_MEMORY, CALL_DEPTH)
    problems = []
    steps = range(floor * 1024, (floor + 32) * 1024, 256)
    for kib in steps:
        for name, path, full, partial in programs:
            outcome = suite.run(path, preexec=limits(stack_mib=8, address_space_kib=kib))
            try:
                suite.expect_orderly(outcome, full, allowed, partial)
                if full is None and outcome.status == 0:
                    raise CaseFailure("64 doublings succeeded")
            except CaseFailure as failure:
                problems.append("%s under %d KiB: %s" % (name, kib, failure))
    if problems:
        raise CaseFailure("%d of %d runs failed:\n      %s"
                          % (len(problems), len(steps) * len(programs), "\n      ".join(problems)))


# ---------------------------------------------------------------------------

def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    skern = os.path.abspath(argv[1])
    groups = argv[2:]
    known = sorted({group for group, *_ in CASES})
    for group in groups:
        if group not in known:
            sys.stderr.write("unknown group %s; groups: %s\n" % (group, " ".join(known)))
            return 2
    selected = [entry for entry in CASES if not groups or entry[0] in groups]
    failed = ran = 0
    reasons = []
    with tempfile.TemporaryDirectory(prefix="skern-limits-") as workdir:
        suite = Suite(skern, workdir)
        build = "sanitizer build" if suite.sanitized else "plain build"
        print("%s (%s); slow cases %s" % (skern, build, "on" if suite.run_slow else "off"))
        for group, name, function, slow, address_limit in selected:
            label = "%s/%s" % (group, name)
            reason = None
            if slow and not suite.run_slow:
                reason = SLOW if suite.sanitized else "slow cases are off (SKERN_LIMITS_SLOW=0)"
            elif address_limit and suite.asan:
                reason = UNDER_ADDRESS_LIMIT
            if reason is not None:
                print("skip %s (%s)" % (label, reason))
                reasons.append(reason)
                continue
            started = time.monotonic()
            try:
                seconds = function(suite)
                ran += 1
                note = " (skern %.2f s)" % seconds if seconds is not None else ""
                print("ok   %s  %.1f s%s" % (label, time.monotonic() - started, note))
            except Skipped as skipped:
                print("skip %s (%s)" % (label, skipped))
                reasons.append(str(skipped))
            except CaseFailure as failure:
                ran += 1
                failed += 1
                print("FAIL %s  %.1f s: %s" % (label, time.monotonic() - started, failure))
            sys.stdout.flush()
    print("%d of %d cases failed" % (failed, ran) if failed else "%d cases passed" % ran)
    if failed:
        return 1
    if ran == 0:
        leave_skip_note(reasons)
        return 77
    return 0


def leave_skip_note(reasons):
    """Leaves why every case was skipped where ctest's summary shows it."""
    path = os.environ.get("SKERN_SKIP_NOTE")
    if not path or not reasons:
        return
    distinct = list(dict.fromkeys(reasons))
    try:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as out:
            out.write("; ".join(distinct) + "\n")
    except OSError as error:
        print("cannot write the skip note %s: %s" % (path, error))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
