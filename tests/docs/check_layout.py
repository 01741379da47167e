#!/usr/bin/env python3
"""Check that example programs are in canonical layout, with skern-fmt --check.

Usage: check_layout.py SKERN_FMT PATH...

Each PATH is a folder, whose *.skr programs are checked, or a Markdown file,
whose Skerran programs are checked as check_guide.py finds them. Left out:
programs whose documented report is a parse error (they cannot be
formatted) and programs flagged `unformatted` (```skerran unformatted),
which show a layout on purpose. Every other program must come out of
`skern-fmt --check` unchanged.

Exits with 0 when all are canonical, 1 otherwise (also when nothing was
checked), 2 on bad usage.
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no __pycache__ left beside this script
import check_guide  # noqa: E402  (lives beside this script)

PARSE_REPORTS = ("parse error", "expression parse error")


def check(skern_fmt, name, source):
    """The problem with one program, or None when it is canonical."""
    result = subprocess.run([skern_fmt, "--check", "-"], input=source, capture_output=True, timeout=60)
    if result.returncode == 0 and not result.stdout and not result.stderr:
        return None
    shown = result.stdout.decode("utf-8", "replace").replace("<stdin>", name)
    return shown + result.stderr.decode("utf-8", "replace")


def programs(path):
    """(name, source bytes) for each program to check in a folder or a Markdown file."""
    if os.path.isdir(path):
        for entry in sorted(os.listdir(path)):
            if entry.endswith(".skr"):
                with open(os.path.join(path, entry), "rb") as handle:
                    yield os.path.join(path, entry), handle.read()
        return
    with open(path, encoding="utf-8") as handle:
        examples = check_guide.collect_examples(handle.read())
    for example in examples:
        if "unformatted" in example.flags or example.blocks.get("stderr", "").startswith(PARSE_REPORTS):
            continue
        yield f"{path}:{example.line}", example.program.encode("utf-8")


def main(argv):
    if len(argv) < 3:
        print("usage: check_layout.py SKERN_FMT PATH...", file=sys.stderr)
        return 2
    skern_fmt = os.path.abspath(argv[1])
    checked = 0
    failed = 0
    for path in argv[2:]:
        for name, source in programs(path):
            checked += 1
            problem = check(skern_fmt, name, source)
            if problem is not None:
                failed += 1
                print(f"{name}: not in canonical layout\n{problem}")
    if checked == 0:
        print("no programs found", file=sys.stderr)
        return 1
    if failed:
        print(f"{failed} of {checked} programs are not in canonical layout (skern-fmt shows how they would be)")
        return 1
    print(f"checked {checked} programs, all in canonical layout")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
