#!/usr/bin/env python3
"""Times skern-fmt on a program of 200,000 lines.

How to run (from the checkout, after `cmake --workflow --preset release`):

    python3 bench/fmt.py                                   # 200,000 lines, 5 rounds
    python3 bench/fmt.py --fmt build/release/skern-fmt --lines 50000 --rounds 3

The program is the program benchmark's generated Skerran program (see
gen_program.py). It is timed three ways: as generated (nearly canonical:
only blank lines between functions are put in), messy (8-column blocks
of tabs and of spaces, no spaces around operators, commas moved, trailing
blanks and runs of blank lines: nearly every line changes), and messy under
--check, which also writes the diff. Each run is the whole command, from start to exit,
with its output going to /dev/null. The table gives the median and the
slowest round; the command exits with 1 when a median is a second or more,
the formatter's budget for a file of this size.
"""

import argparse
import pathlib
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import gen_program  # noqa: E402  (lives beside this file)

BUDGET_SECONDS = 1.0


def messy(text):
    """The same program with every line's layout spoilt, its meaning kept."""
    out = []
    for number, line in enumerate(text.split("\n")):
        body = line.lstrip(" ")
        depth = (len(line) - len(body)) // 4
        indentation = "\t\t" * depth if number % 2 else "        " * depth  # 8 columns a level
        body = re.sub(r" ([-+*/<>]|==|!=) ", r"\1", body)
        body = body.replace(", ", " ,")
        out.append(indentation + body + ("   " if number % 3 == 0 else ""))
        if number % 50 == 0 and depth > 0:
            out.append("\n\n")
    return "\n".join(out)


def timed(command, source):
    with open(source, "rb") as stdin:
        start = time.perf_counter()
        result = subprocess.run(command, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        seconds = time.perf_counter() - start
    return seconds, result.returncode, result.stderr.decode()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--fmt", default=str(HERE.parent / "build" / "release" / "skern-fmt"))
    parser.add_argument("--lines", type=int, default=200_000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    text = gen_program.skerran_text(args.lines)
    with tempfile.TemporaryDirectory(prefix="skern-fmt-bench-") as work:
        generated = pathlib.Path(work) / "program.skr"
        generated.write_text(text)
        spoilt = pathlib.Path(work) / "messy.skr"
        spoilt.write_text(messy(text))
        print(f"program: {text.count(chr(10))} lines, {len(text.encode()) / 1e6:.1f} MB "
              f"(messy: {spoilt.stat().st_size / 1e6:.1f} MB); {args.rounds} rounds")
        cases = (
            ("as generated", [args.fmt, str(generated)], 0),
            ("messy", [args.fmt, str(spoilt)], 0),
            ("messy, --check", [args.fmt, "--check", str(spoilt)], 1),
        )
        results = {}
        for _ in range(args.rounds):
            for name, command, status in cases:
                seconds, got, stderr = timed(command, generated)
                if got != status:
                    sys.exit(f"{name}: exit status {got}, expected {status}: {stderr}")
                results.setdefault(name, []).append(seconds)
    print(f"{'run':<18}{'median':>10}{'slowest':>10}")
    over = []
    for name, seconds in results.items():
        median = statistics.median(seconds)
        print(f"{name:<18}{median * 1000:>8.0f}ms{max(seconds) * 1000:>8.0f}ms")
        if median >= BUDGET_SECONDS:
            over.append(name)
    if over:
        print(f"over the budget of {BUDGET_SECONDS:.0f} s: {', '.join(over)}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
