#!/usr/bin/env python3
"""Counts the machine instructions that one statement costs, per kind.

How to run (from the checkout; needs valgrind and lua5.4):

    python3 bench/perop.py                     # build/release/skern
    python3 bench/perop.py --skern /path/to/skern --only 'f with'
    python3 bench/perop.py --json before.json
    python3 bench/perop.py --compare before.json

For each row the script writes a small Skerran program that runs the
statement inside `the realm marches N times:` and the equivalent Lua 5.4
program, with locals, inside `for _ = 1, N do ... end`, and counts the
instructions of whole runs with callgrind at two values of N. The setup
(declarations and functions before the loop) and start-up are the same in
both runs, so (I(N2) - I(N1)) / (N2 - N1) is the cost of one round of the
loop: the statement together with the loop's own overhead. Instruction
counts do not depend on the load of the machine; system calls are not
counted, so output rows show only the work done in user space.

--json writes the raw counts; --compare adds skern's per-round count from
such a file (an earlier build) as a "before" column.
"""

import argparse
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
N1 = 20_000
N2 = 120_000
# The scroll append row starts afresh from "" every this many rounds, so
# that it measures appending to a short text rather than copying a long one.
APPEND_RUN = 50

SKERN_SETUP = """\
we declare f0 with ->
council says:
    return 1

we declare f1 with a ->
council says:
    return a

we declare f2 with a, b ->
council says:
    return a

we declare f4 with a, b, g, h ->
council says:
    return a

we declare peek with ->
council says:
    return y

we declare poke with ->
council says:
    y = y + 1

on the iron throne:
    x is a blade with 1
    y is a blade with 2
    w is a wine with 1.5
    q is a wine with 0.0
    v is a vow with aye
    s is a scroll with "a"
    t is a scroll with "b"
    c is a sigil with 'c'
    d is a sigil with 'd'
"""

LUA_SETUP = """\
local function f0()
  return 1
end

local function f1(a)
  return a
end

local function f2(a, b)
  return a
end

local function f4(a, b, g, h)
  return a
end

local x = 1
local y = 2
local w = 1.5
local q = 0.0
local v = true
local s = "a"
local t = "b"
local c = "c"
local d = "d"

local function peek()
  return y
end

local function poke()
  y = y + 1
end
"""

# Row label, Skerran body, Lua body (lines of the loop body, without
# indentation), and whether the body runs in short runs after a reset.
ROWS = [
    ("x = x + 1", ["x = x + 1"], ["x = x + 1"]),
    ("x = x - y", ["x = x - y"], ["x = x - y"]),
    ("x = x * 3", ["x = x * 3"], ["x = x * 3"]),
    ("x = y", ["x = y"], ["x = y"]),
    ("w = w + 1.5", ["w = w + 1.5"], ["w = w + 1.5"]),
    ("w = w + x", ["w = w + x"], ["w = w + x"]),
    ("w = w * 1.01", ["w = w * 1.01"], ["w = w * 1.01"]),
    ("q = x / 3", ["q = x / 3"], ["q = x / 3"]),
    ("v = w > 2.5", ["v = w > 2.5"], ["v = w > 2.5"]),
    ("v = x < y", ["v = x < y"], ["v = x < y"]),
    ("v = x == y", ["v = x == y"], ["v = x == y"]),
    ("v = s == t", ["v = s == t"], ["v = s == t"]),
    ("v = c == d", ["v = c == d"], ["v = c == d"]),
    ("v = !v", ["v = !v"], ["v = not v"]),
    ("x = -x", ["x = -x"], ["x = -x"]),
    ("w = -w", ["w = -w"], ["w = -w"]),
    ("z is a blade with 5", ["z is a blade with 5"], ["local z = 5"]),
    ("z is a wine with 1.5", ["z is a wine with 1.5"], ["local z = 1.5"]),
    ('z is a scroll with "a"', ['z is a scroll with "a"'], ['local z = "a"']),
    ("if x > 3: x = x - 5 else: x = x + 1",
     ["if x > 3:", "    x = x - 5", "else:", "    x = x + 1"],
     ["if x > 3 then", "  x = x - 5", "else", "  x = x + 1", "end"]),
    ("x = f with", ["x = f0 with"], ["x = f0()"]),
    ("x = f with 1", ["x = f1 with 1"], ["x = f1(1)"]),
    ("x = f with 1, 2", ["x = f2 with 1, 2"], ["x = f2(1, 2)"]),
    ("x = f with 1, 2, 3, 4", ["x = f4 with 1, 2, 3, 4"],
     ["x = f4(1, 2, 3, 4)"]),
    ("x = f with, f reads caller's y", ["x = peek with"], ["x = peek()"]),
    ("f with, f sets caller's y = y + 1", ["poke with"], ["poke()"]),
    ('s = t + "a"', ['s = t + "a"'], ['s = t .. "a"']),
    (f's = s + "a" (s = "" every {APPEND_RUN})', ['s = s + "a"'],
     ['s = s .. "a"'], True),
    ("speak x (to /dev/null)", ["speak x"], ["print(x)"]),
]


def skern_program(body, n, short_runs):
    if short_runs:
        lines = [f"    the realm marches {n // APPEND_RUN} times:",
                 '        s = ""',
                 f"        the realm marches {APPEND_RUN} times:"]
        lines += ["            " + line for line in body]
    else:
        lines = [f"    the realm marches {n} times:"]
        lines += ["        " + line for line in body]
    return SKERN_SETUP + "\n".join(lines) + "\n"


def lua_program(body, n, short_runs):
    if short_runs:
        lines = [f"for _ = 1, {n // APPEND_RUN} do",
                 '  s = ""',
                 f"  for _ = 1, {APPEND_RUN} do"]
        lines += ["    " + line for line in body]
        lines += ["  end", "end"]
    else:
        lines = [f"for _ = 1, {n} do"]
        lines += ["  " + line for line in body]
        lines += ["end"]
    return LUA_SETUP + "\n".join(lines) + "\n"


COLLECTED = re.compile(r"Collected\s*:\s*(\d+)")


def instructions(command, path):
    """Instructions of one whole run under callgrind."""
    done = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"]
        + command + [str(path)],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE, text=True, timeout=600)
    found = COLLECTED.findall(done.stderr)
    if done.returncode != 0 or not found:
        sys.exit(f"perop.py: {' '.join(command)} {path.name} failed "
                 f"(status {done.returncode}):\n{done.stderr[-2000:]}")
    return int(found[-1])


def per_round(command, make, body, short_runs, directory, ext):
    counts = {}
    for n in (N1, N2):
        path = directory / f"row.{ext}"
        path.write_text(make(body, n, short_runs))
        counts[n] = instructions(command, path)
    return counts, (counts[N2] - counts[N1]) / (N2 - N1)


def main():
    parser = argparse.ArgumentParser(
        description="Instructions per statement, skern against Lua 5.4, "
                    "as a Markdown table.")
    parser.add_argument("--skern",
                        default=str(ROOT / "build" / "release" / "skern"),
                        help="skern binary (default build/release/skern)")
    parser.add_argument("--only", metavar="PATTERN",
                        help="only the rows whose label matches this regular "
                             "expression")
    parser.add_argument("--json", metavar="FILE",
                        help="write the raw instruction counts to FILE")
    parser.add_argument("--compare", metavar="BEFORE.json",
                        help="add skern's figures from an earlier --json "
                             "file as a before column")
    args = parser.parse_args()

    skern = os.path.abspath(args.skern)
    if not (os.path.isfile(skern) and os.access(skern, os.X_OK)):
        sys.exit(f"perop.py: no skern binary at {skern}; pass --skern PATH")
    if not shutil.which("valgrind"):
        sys.exit("perop.py: valgrind is not installed")
    lua = shutil.which("lua5.4")
    if not lua:
        print("perop.py: lua5.4 is not installed; skern only",
              file=sys.stderr)
    rows = ROWS
    if args.only:
        try:
            pattern = re.compile(args.only)
        except re.error as error:
            parser.error(f"--only: {error}")
        rows = [row for row in ROWS if pattern.search(row[0])]
        if not rows:
            parser.error("--only matches no row")
    before = {}
    if args.compare:
        try:
            with open(args.compare) as source:
                before = {label: row["skern"]["per_round"]
                          for label, row in json.load(source)["rows"].items()}
        except (OSError, ValueError, KeyError) as error:
            sys.exit(f"perop.py: cannot read {args.compare}: {error}")

    results = {}
    with tempfile.TemporaryDirectory(prefix="perop.") as temp:
        directory = pathlib.Path(temp)
        for row in rows:
            label, skern_body, lua_body = row[:3]
            short_runs = len(row) > 3 and row[3]
            print(f"measuring {label}", file=sys.stderr)
            counts, cost = per_round([skern], skern_program, skern_body,
                                     short_runs, directory, "skr")
            result = {"skern": {"counts": counts, "per_round": cost}}
            if lua:
                counts, cost = per_round([lua], lua_program, lua_body,
                                         short_runs, directory, "lua")
                result["lua5.4"] = {"counts": counts, "per_round": cost}
            results[label] = result

    header = ["operation", "skern"]
    if lua:
        header += ["lua5.4", "skern/lua5.4"]
    if before:
        header += ["skern before", "after/before"]
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join(["---"] + ["---:"] * (len(header) - 1)) + "|"]
    for label, result in results.items():
        mine = result["skern"]["per_round"]
        row = [label.replace("|", "\\|"), f"{mine:.1f}"]
        if lua:
            theirs = result["lua5.4"]["per_round"]
            row += [f"{theirs:.1f}",
                    f"{mine / theirs:.2f}" if theirs > 0 else ""]
        if before:
            old = before.get(label)
            row += [f"{old:.1f}" if old is not None else "",
                    f"{mine / old:.2f}" if old else ""]
        lines.append("| " + " | ".join(row) + " |")
    print(f"Instructions per loop round, statement and loop overhead "
          f"included: (I({N2}) - I({N1})) / {N2 - N1}, counted by callgrind."
          f"\nskern: {skern}\n")
    print("\n".join(lines))

    if args.json:
        with open(args.json, "w") as out:
            json.dump({"skern": skern, "n1": N1, "n2": N2, "rows": results},
                      out, indent=1)
            out.write("\n")


if __name__ == "__main__":
    main()
