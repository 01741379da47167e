#!/usr/bin/env python3
"""Random Skerran programs, mostly valid, for comparing two skern builds.

    python3 scripts/gen_programs.py --seed 1 --count 20 --out DIR

writes DIR/NNNNN.skr and, when the program reads input, DIR/NNNNN.stdin.
scripts/differential.py imports `generate` and runs what it gives.

The generator itself is the package genprog/ beside this script; its
docstring says what the programs aim at.
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.dont_write_bytecode = True  # no __pycache__ left in scripts/

from genprog import generate, program_rng  # noqa: E402  (lives beside this script)

__all__ = ["generate", "main", "program_rng"]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--count", type=int, default=10)
    parser.add_argument("--out", required=True, help="directory for NNNNN.skr and NNNNN.stdin")
    parser.add_argument("--no-faults", action="store_true", help="no deliberate errors (checks the generator)")
    args = parser.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)
    for index in range(args.count):
        source, stdin, _ = generate(program_rng(args.seed, index), faults=not args.no_faults)
        base = os.path.join(args.out, "%05d" % index)
        with open(base + ".skr", "wb") as f:
            f.write(source)
        if stdin:
            with open(base + ".stdin", "wb") as f:
                f.write(stdin)
    return 0


if __name__ == "__main__":
    sys.exit(main())
