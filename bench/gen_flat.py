#!/usr/bin/env python3
"""Writes the flat benchmark: one main block of simple lines, no functions.

How to run: run.py writes the files itself when the flat benchmark runs; by
hand, `python3 bench/gen_flat.py [--lines N]` writes
bench/generated/flat.{skr,py,lua}, and `import gen_flat;
gen_flat.skerran_text(N)` gives the Skerran text alone (growth.py uses
that).

This is the shape of generated code and of long tables of data written as
code: if/else, assignments and arithmetic, each line run once, so reading
the program is nearly all of the work and the memory it keeps is what a
run holds. Every operator stands between parentheses where the grouping
matters, since Skerran's operators share one precedence; the values stay
small and the wine's steps are exact binary fractions, so every engine
prints the same.
"""

import pathlib

from gen_parse import command_line, write_texts  # lives beside this file

HERE = pathlib.Path(__file__).resolve().parent
# Skerran lines that one round of the pattern below writes.
LINES_PER_ROUND = 8


def rounds_for(lines):
    return max(1, lines // LINES_PER_ROUND)


def body(i):
    """Round i of the pattern: (Skerran, Python, Lua) lines, unindented."""
    t, k, m, w = i % 17, i % 5 + 1, i % 3 + 1, i % 9
    return [
        (f"if a > {t}:", f"if a > {t}:", f"if a > {t} then"),
        (f"    a = a - {k}", f"    a = a - {k}", f"  a = a - {k}"),
        ("else:", "else:", "else"),
        (f"    a = a + (b - b) + {m}", f"    a = a + (b - b) + {m}",
         f"  a = a + (b - b) + {m}\nend"),
        (f"b = (b + a) - {i % 7}", f"b = (b + a) - {i % 7}",
         f"b = (b + a) - {i % 7}"),
        (f"c = c + {w}.25", f"c = c + {w}.25", f"c = c + {w}.25"),
        (f"d = (a * {m}) - (b - {w})", f"d = (a * {m}) - (b - {w})",
         f"d = (a * {m}) - (b - {w})"),
        (f"e = (e + d) - (a - a) - {t}", f"e = (e + d) - (a - a) - {t}",
         f"e = (e + d) - (a - a) - {t}"),
    ]


def skerran_text(lines):
    out = ["// A flat main block: if/else, assignments and arithmetic.\n",
           "on the iron throne:\n",
           "    a is a blade with 0\n", "    b is a blade with 1\n",
           "    c is a wine with 0.5\n", "    d is a blade with 0\n",
           "    e is a blade with 0\n"]
    for i in range(rounds_for(lines)):
        out.extend(f"    {skr}\n" for skr, _, _ in body(i))
    out.extend(f"    speak {name}\n" for name in "abcde")
    return "".join(out)


def python_text(lines):
    out = ["a = 0\n", "b = 1\n", "c = 0.5\n", "d = 0\n", "e = 0\n"]
    for i in range(rounds_for(lines)):
        out.extend(f"{py}\n" for _, py, _ in body(i))
    # An integral wine prints as a whole number, as skern prints it.
    out.append("for x in (a, b, c, d, e):\n"
               "    print(int(x) if x == int(x) else x)\n")
    return "".join(out)


def lua_text(lines):
    out = ["local a = 0\n", "local b = 1\n", "local c = 0.5\n",
           "local d = 0\n", "local e = 0\n"]
    for i in range(rounds_for(lines)):
        out.extend(f"{lua}\n" for _, _, lua in body(i))
    # The shortest text that reads back to the same number, as skern prints.
    out.append("for _, x in ipairs({a, b, c, d, e}) do\n"
               "  if x == math.floor(x) then print(string.format('%d', x))\n"
               "  else print(string.format('%.17g', x)) end\n"
               "end\n")
    return "".join(out)


def generate(lines=200_000, directory=HERE / "generated"):
    """Writes flat.skr, flat.py and flat.lua; gives the directory."""
    return write_texts("flat", {"skr": skerran_text(lines),
                                "py": python_text(lines),
                                "lua": lua_text(lines)}, directory)


if __name__ == "__main__":
    command_line(__doc__, "flat", generate)
