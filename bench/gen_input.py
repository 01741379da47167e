#!/usr/bin/env python3
"""Writes the standard input of the input benchmark.

How to run: run.py writes the file itself when the input benchmark runs;
by hand, `python3 bench/gen_input.py [--rounds N]` writes
bench/generated/input.stdin.

The file holds one number line and one word line per round: numbers with
and without a sign, a few with leading zeros, and words of one to three
names, some with spaces inside.
"""

import argparse
import filecmp
import os
import pathlib

HERE = pathlib.Path(__file__).resolve().parent
WORDS = ["raven", "direwolf", "the wall", "winter is coming", "dragonglass",
         "raven", "kingslayer", "a girl has no name", "hodor", "ser"]
ROUNDS = 3_000_000
CHUNK = 100_000


def text(start, stop):
    out = []
    for i in range(start, stop):
        value = (i * 7919) % 100_003 - 50_000
        if i % 10 == 3:
            number = f"+{value}" if value >= 0 else str(value)
        elif i % 10 == 7 and value >= 0:
            number = f"00{value}"
        else:
            number = str(value)
        out.append(number + "\n")
        out.append(WORDS[(i * 31) % len(WORDS)] + "\n")
    return "".join(out)


def generate(rounds=ROUNDS, directory=HERE / "generated"):
    """Writes input.stdin; gives its path."""
    directory.mkdir(parents=True, exist_ok=True)
    path = directory / "input.stdin"
    fresh = directory / "input.stdin.new"
    with open(fresh, "w") as out:
        for start in range(0, rounds, CHUNK):
            out.write(text(start, min(start + CHUNK, rounds)))
    # Leave an identical file alone so that its timestamp stays put.
    if path.exists() and filecmp.cmp(fresh, path, shallow=False):
        fresh.unlink()
    else:
        os.replace(fresh, path)
    return path


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=ROUNDS,
                        help=f"number and word line pairs (default {ROUNDS})")
    args = parser.parse_args()
    print(f"wrote {generate(args.rounds)}")


if __name__ == "__main__":
    main()
