#!/usr/bin/env python3
"""Writes the longexpr benchmark: one very long expression in each language.

How to run: run.py writes the files itself when the longexpr benchmark
runs; by hand, `python3 bench/gen_longexpr.py [--terms N]` writes
bench/generated/longexpr.{skr,py,lua}, and `import gen_longexpr;
gen_longexpr.skerran_text(N, rounds)` gives the Skerran text alone (growth.py
uses that).

The expression adds and subtracts a variable and small literals, a fixed
pseudo-random mix, so that no engine can fold it into one constant. It
stands on one line and runs in a loop, so reading it and running it both
count.
"""

import argparse
import pathlib
import random

from gen_parse import write_if_changed  # lives beside this file

HERE = pathlib.Path(__file__).resolve().parent
TERMS = 300_000
ROUNDS = 100
# CPython's compiler recurses once per operator of a chain and gives up
# after a few thousand levels, so the Python version adds up the same terms
# in parenthesised runs of this many.
PYTHON_RUN = 1000


def terms_and_operators(count):
    pick = random.Random(count)
    terms = ["x" if i % 3 == 0 else str(pick.randint(1, 9))
             for i in range(count)]
    operators = [pick.choice("+-") for _ in range(count - 1)]
    return terms, operators


def flat(terms, operators):
    return terms[0] + "".join(f" {op} {term}"
                              for op, term in zip(operators, terms[1:]))


def python_expression(terms, operators):
    # Each run after the first starts from 0 with its own leading operator,
    # so the sum is the same.
    runs = [flat(terms[:PYTHON_RUN], operators[:PYTHON_RUN - 1])]
    for start in range(PYTHON_RUN, len(terms), PYTHON_RUN):
        stop = start + PYTHON_RUN
        runs.append("(0 " + flat([""] + terms[start:stop],
                                 operators[start - 1:stop - 1])[1:] + ")")
    return " + ".join(runs)


def skerran_text(count, rounds=ROUNDS):
    terms, operators = terms_and_operators(count)
    return ("// One expression of {count} terms, evaluated {rounds} times.\n"
            "on the iron throne:\n"
            "    x is a blade with 0\n"
            "    total is a blade with 0\n"
            f"    the realm marches {rounds} times:\n"
            "        x = x + 1\n"
            f"        total = total + ({flat(terms, operators)})\n"
            "    speak total\n").format(count=count, rounds=rounds)


def python_text(count, rounds=ROUNDS):
    terms, operators = terms_and_operators(count)
    return (f"# One expression of {count} terms, evaluated {rounds} times.\n"
            "def main():\n"
            "    x = 0\n"
            "    total = 0\n"
            f"    for _ in range({rounds}):\n"
            "        x = x + 1\n"
            "        total = total + ("
            f"{python_expression(terms, operators)})\n"
            "    print(total)\n"
            "\n\nmain()\n")


def lua_text(count, rounds=ROUNDS):
    terms, operators = terms_and_operators(count)
    # The code of a loop body must fit in a jump, so the expression stands
    # in a function of its own.
    return (f"-- One expression of {count} terms, evaluated {rounds} times.\n"
            "local function value(x)\n"
            f"  return {flat(terms, operators)}\n"
            "end\n"
            "\n"
            "local x = 0\n"
            "local total = 0\n"
            f"for _ = 1, {rounds} do\n"
            "  x = x + 1\n"
            "  total = total + value(x)\n"
            "end\n"
            "print(total)\n")


def generate(count=TERMS, directory=HERE / "generated"):
    """Writes longexpr.skr, longexpr.py and longexpr.lua; gives the
    directory."""
    directory.mkdir(parents=True, exist_ok=True)
    for ext, make in (("skr", skerran_text), ("py", python_text),
                      ("lua", lua_text)):
        write_if_changed(directory / f"longexpr.{ext}", make(count))
    return directory


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--terms", type=int, default=TERMS,
                        help=f"terms of the expression (default {TERMS})")
    args = parser.parse_args()
    directory = generate(args.terms)
    print(f"wrote {directory}/longexpr.{{skr,py,lua}}")


if __name__ == "__main__":
    main()
