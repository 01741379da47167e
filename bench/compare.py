#!/usr/bin/env python3
"""Compares two runs of run.py: skern before and after a change.

How to run (from the checkout):

    python3 bench/run.py --skern OLD-SKERN --json before.json
    python3 bench/run.py --skern NEW-SKERN --json after.json
    python3 bench/compare.py before.json after.json

Prints a Markdown table with, per benchmark that both runs measured,
skern's median time and peak RSS before and after with the ratios
after/before, and the ratios of skern's median after the change to every
other engine's median in the after run. A ratio below 1 means skern got
faster or smaller, or is faster than that engine.
"""

import argparse
import json
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.dont_write_bytecode = True  # keep bench/ free of __pycache__
from run import fmt_rss, fmt_time  # noqa: E402  (lives beside this file)



def load(path):
    try:
        with open(path) as source:
            data = json.load(source)
        return data["benchmarks"], list(data["engines"])
    except (OSError, ValueError, KeyError) as error:
        sys.exit(f"compare.py: cannot read {path}: {error}")


def table(before, after, engines):
    others = [name for name in engines if name != "skern"]
    header = ["benchmark", "time before", "time after", "time after/before",
              "RSS before", "RSS after", "RSS after/before"]
    header += [f"skern/{name}" for name in others]
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join(["---"] + ["---:"] * (len(header) - 1)) + "|"]
    for bench, runs in after.items():
        if bench not in before or "skern" not in before[bench]:
            continue
        old = before[bench]["skern"]
        new = runs["skern"]
        row = [bench,
               fmt_time(old["median_s"]), fmt_time(new["median_s"]),
               f"{new['median_s'] / old['median_s']:.2f}",
               fmt_rss(old["peak_rss_kib"]), fmt_rss(new["peak_rss_kib"]),
               f"{new['peak_rss_kib'] / old['peak_rss_kib']:.2f}"]
        for name in others:
            other = runs.get(name)
            row.append(f"{new['median_s'] / other['median_s']:.2f}"
                       if other else "")
        lines.append("| " + " | ".join(row) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("before", help="JSON file of run.py --json, before")
    parser.add_argument("after", help="JSON file of run.py --json, after")
    args = parser.parse_args()
    before, _ = load(args.before)
    after, engines = load(args.after)
    if not any(bench in before for bench in after):
        sys.exit("compare.py: the two runs have no benchmark in common")
    print(table(before, after, engines))


if __name__ == "__main__":
    main()
