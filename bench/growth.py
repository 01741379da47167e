#!/usr/bin/env python3
"""Shows how skern's cost grows with the size of its work, to expose
anything worse than linear.

How to run (from the checkout; valgrind gives the instruction counts):

    python3 bench/growth.py                    # build/release/skern
    python3 bench/growth.py --skern /path/to/skern --quick

Four series, each at sizes a factor of 10 apart (recursion ends at the
interpreter's limit of 200,000 nested calls):

- program size: generated programs (as in the program benchmark) of
  10^3 to 10^6 lines, read and partly run;
- text building: `s = s + "a" + "b"` and `s = s + "ab"` for 10^3 to 10^6
  rounds;
- recursion depth: one descent of 10^3 to 2*10^5 nested calls;
- expression length: one line holding an expression of 10^3 to 10^6 terms,
  evaluated once;
- flat program size: one main block of simple lines (as in the flat
  benchmark), 10^3 to 10^6 lines.

A second table runs the flat programs of 10^3 to 10^6 lines on skern and on
Lua 5.4 and LuaJIT's interpreter (luajit -joff), where installed, side by
side: wall time and peak RSS of each, and skern's ratios to each.

Every case runs once natively for wall time and peak RSS, and, when that
took little time and the growth so far predicts a moderate count, once
more under callgrind for its instruction count. Instruction counts are net
of a minimal program's, and the growth of RSS is taken net of its RSS, so
that start-up does not hide the growth. "x per 10x" is the growth of a
figure per tenfold size (scaled for steps of another size): about 10 for
linear cost, about 100 for quadratic; wall times of a few milliseconds are
mostly start-up and noise. A case whose growth so far predicts more time
than the budget is not run.
"""

import argparse
import math
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
sys.dont_write_bytecode = True  # keep bench/ free of __pycache__
import gen_flat  # noqa: E402  (these live beside this file)
import gen_longexpr  # noqa: E402
import gen_program  # noqa: E402
import run  # noqa: E402

STARTUP = "on the iron throne:\n    speak 0\n"
DECADES = [1_000, 10_000, 100_000, 1_000_000]


def text_building(step):
    def make(n):
        return ("on the iron throne:\n"
                '    s is a scroll with ""\n'
                f"    the realm marches {n} times:\n"
                f"        s = s + {step}\n"
                '    speak s == ""\n')
    return make


def recursion(depth):
    # down with n nests n + 1 calls.
    return ("we declare down with n ->\n"
            "council says:\n"
            "    if n < 1:\n"
            "        return 0\n"
            "    return (down with n - 1) + 1\n"
            "\n"
            "on the iron throne:\n"
            f"    speak down with {depth - 1}\n")


SERIES = [
    ("program size", "lines", DECADES, gen_program.skerran_text),
    ('text: s = s + "a" + "b"', "rounds", DECADES,
     text_building('"a" + "b"')),
    ('text: s = s + "ab"', "rounds", DECADES, text_building('"ab"')),
    ("recursion depth", "calls", [1_000, 10_000, 100_000, 200_000],
     recursion),
    ("expression length", "terms", DECADES,
     lambda n: gen_longexpr.skerran_text(n, rounds=1)),
    ("flat program size", "lines", DECADES, gen_flat.skerran_text),
]
# The engines of the side-by-side table: name, command, and the generator
# of the program's text in its language.
REFERENCES = [("lua5.4", ["lua5.4"], gen_flat.lua_text),
              ("luajit-joff", ["luajit", "-joff"], gen_flat.lua_text)]

COLLECTED = re.compile(r"Collected\s*:\s*(\d+)")


def instructions(skern, path, timeout):
    try:
        done = subprocess.run(
            ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
             skern, str(path)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None
    found = COLLECTED.findall(done.stderr)
    if done.returncode != 0 or not found:
        sys.exit(f"growth.py: callgrind run of {path.name} failed:\n"
                 f"{done.stderr[-2000:]}")
    return int(found[-1])


def per_decade(small, large, n_small, n_large):
    """Growth of a figure per tenfold size, or None if not measurable."""
    if small is None or large is None or small <= 0 or large <= 0:
        return None
    return (large / small) ** (1 / math.log10(n_large / n_small))


class Case:
    def __init__(self, n):
        self.n = n
        self.seconds = None
        self.rss = None
        self.instructions = None
        self.note = ""


def measure(skern, path, subreaper, timeout):
    outcome = run.run_once([skern, str(path)], timeout, subreaper)
    if outcome.status != 0:
        if outcome.seconds >= timeout:
            return None
        sys.exit(f"growth.py: {path.name} failed with status "
                 f"{outcome.status}: {run.excerpt(outcome.stderr)}")
    return outcome


def side_by_side(skern, directory, subreaper, budget):
    """Markdown lines of the flat programs' time and peak RSS on skern and
    every installed reference engine, per size."""
    engines = [("skern", [skern], gen_flat.skerran_text)]
    engines += [e for e in REFERENCES if shutil.which(e[1][0])]
    header = ["lines"]
    for name, _, _ in engines:
        header += [f"{name} time", f"{name} RSS"]
    for name, _, _ in engines[1:]:
        header += [f"time skern/{name}", f"RSS skern/{name}"]
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join(["---:"] * len(header)) + "|"]
    for n in DECADES:
        print(f"growth.py: flat program side by side: {n} lines",
              file=sys.stderr)
        figures = {}
        for name, command, make in engines:
            path = directory / f"side.{name}"
            path.write_text(make(n))
            outcome = run.run_once(command + [str(path)], budget, subreaper)
            if outcome.status != 0:
                sys.exit(f"growth.py: {name} failed on the flat program of "
                         f"{n} lines: {run.excerpt(outcome.stderr)}")
            figures[name] = outcome
        row = [f"{n:,}"]
        for name, _, _ in engines:
            row += [run.fmt_time(figures[name].seconds),
                    run.fmt_rss(figures[name].maxrss_kib)]
        mine = figures["skern"]
        for name, _, _ in engines[1:]:
            row += [f"{mine.seconds / figures[name].seconds:.2f}",
                    f"{mine.maxrss_kib / figures[name].maxrss_kib:.2f}"]
        lines.append("| " + " | ".join(row) + " |")
    return lines


def fmt_count(value):
    if value is None:
        return ""
    if abs(value) >= 1e9:
        return f"{value / 1e9:.2f} G"
    if abs(value) >= 1e6:
        return f"{value / 1e6:.2f} M"
    if abs(value) >= 1e3:
        return f"{value / 1e3:.1f} k"
    return f"{value:.0f}"


def fmt_factor(value):
    return "" if value is None else f"{value:.1f}"


def main():
    parser = argparse.ArgumentParser(
        description="Growth of skern's cost with program size, text length, "
                    "recursion depth and expression length, as a Markdown "
                    "table.")
    parser.add_argument("--skern",
                        default=str(ROOT / "build" / "release" / "skern"),
                        help="skern binary (default build/release/skern)")
    parser.add_argument("--quick", action="store_true",
                        help="smaller budgets: count instructions only for "
                             "runs under 0.3 s and 10^9 instructions, and "
                             "skip runs expected to take over 10 s (else "
                             "2 s, 8*10^9 and 150 s)")
    args = parser.parse_args()

    skern = os.path.abspath(args.skern)
    if not (os.path.isfile(skern) and os.access(skern, os.X_OK)):
        sys.exit(f"growth.py: no skern binary at {skern}; pass --skern PATH")
    have_valgrind = shutil.which("valgrind") is not None
    if not have_valgrind:
        print("growth.py: valgrind is not installed; wall time only",
              file=sys.stderr)
    # Native seconds under which a case is also run under callgrind, which
    # is some 30 to 100 times slower, as long as its growth so far predicts
    # no more than so many instructions; and the most a native run may take.
    count_below = 0.3 if args.quick else 2.0
    count_most = 1e9 if args.quick else 8e9
    budget = 10.0 if args.quick else 150.0
    subreaper = run.become_subreaper()

    with tempfile.TemporaryDirectory(prefix="growth.") as temp:
        directory = pathlib.Path(temp)
        path = directory / "startup.skr"
        path.write_text(STARTUP)
        base = measure(skern, path, subreaper, 60)
        base_rss = base.maxrss_kib
        base_instructions = (instructions(skern, path, 600)
                             if have_valgrind else None)

        tables = []
        for title, unit, sizes, make in SERIES:
            cases = []
            for n in sizes:
                case = Case(n)
                cases.append(case)
                done = [c for c in cases if c.seconds is not None]
                if len(done) >= 2:
                    a, b = done[-2], done[-1]
                    growth = per_decade(a.seconds, b.seconds, a.n, b.n) or 10
                    expected = b.seconds * growth ** math.log10(n / b.n)
                    if expected > budget:
                        case.note = f"not run: about {expected:.0f} s expected"
                        break
                print(f"growth.py: {title}: {n} {unit}", file=sys.stderr)
                path = directory / "case.skr"
                path.write_text(make(n))
                outcome = measure(skern, path, subreaper, budget)
                if outcome is None:
                    case.note = f"not run: over {budget:.0f} s"
                    break
                case.seconds = outcome.seconds
                case.rss = outcome.maxrss_kib
                counted = [c for c in cases if c.instructions is not None]
                expected = 0
                if len(counted) >= 2:
                    a, b = counted[-2], counted[-1]
                    growth = per_decade(a.instructions, b.instructions,
                                        a.n, b.n) or 10
                    expected = b.instructions * growth ** math.log10(n / b.n)
                if (have_valgrind and outcome.seconds < count_below
                        and expected <= count_most):
                    counted = instructions(skern, path, budget * 60)
                    if counted is not None:
                        case.instructions = counted - base_instructions
            tables.append((title, unit, cases))
        beside = side_by_side(skern, directory, subreaper, budget)

    header = ["series", "size", "instructions", "per unit", "x per 10x",
              "wall time", "x per 10x", "peak RSS", "RSS x per 10x"]
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join(["---"] * 2 + ["---:"] * (len(header) - 2)) + "|"]
    for title, unit, cases in tables:
        previous = None
        for case in cases:
            row = [title, f"{case.n:,} {unit}"]
            if case.seconds is None:
                row += [case.note] + [""] * (len(header) - 3)
                lines.append("| " + " | ".join(row) + " |")
                continue
            net_rss = case.rss - base_rss
            grow_i = grow_t = grow_r = None
            if previous is not None:
                grow_i = per_decade(previous.instructions, case.instructions,
                                    previous.n, case.n)
                grow_t = per_decade(previous.seconds, case.seconds,
                                    previous.n, case.n)
                # Net RSS below 1 MiB is mostly noise of the allocator.
                before_rss = previous.rss - base_rss
                if before_rss >= 1024 and net_rss >= 1024:
                    grow_r = per_decade(before_rss, net_rss, previous.n,
                                        case.n)
            row += [fmt_count(case.instructions),
                    fmt_count(case.instructions / case.n)
                    if case.instructions is not None else "",
                    fmt_factor(grow_i),
                    run.fmt_time(case.seconds), fmt_factor(grow_t),
                    run.fmt_rss(case.rss), fmt_factor(grow_r)]
            lines.append("| " + " | ".join(row) + " |")
            previous = case
    print(f"skern: {skern}\nInstructions (callgrind) are net of a minimal "
          f"program's ({fmt_count(base_instructions)}), the RSS growth net of "
          f"its peak RSS ({run.fmt_rss(base_rss)}); wall time is of one run. "
          "Empty cells: not counted (too slow under callgrind) or too small "
          "to measure.\n")
    print("\n".join(lines))
    print("\nThe flat program on each engine (one run per size):\n")
    print("\n".join(beside))


if __name__ == "__main__":
    main()
