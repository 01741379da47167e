#!/usr/bin/env python3
"""Run every example program of the language guide and compare what it writes.

Usage: check_guide.py SKERN GUIDE

The guide marks its examples with fenced blocks that start at the beginning
of a line:

    ```skerran    a complete program
    ```input      optional: the standard input it is given
    ```output     the exact standard output
    ```stderr     the exact standard error; the run must then exit with 1

Words after the kind are flags of the block: `unformatted` marks a program
that shows a layout skern-fmt would change (tabs, say); check_layout.py
leaves it out.

Every program needs an output block, a stderr block, or both; a program with
a stderr block must exit with status 1, one without must exit with 0. Prose
and blocks of other kinds may stand between a program and its blocks. Each
line of a block ends with a line feed, so an empty block means empty text.

Exits with 0 when every example writes what the guide says, 1 otherwise
(also when the guide holds no example at all), 2 on bad usage.
"""

import os
import subprocess
import sys
import tempfile

PROGRAM = "skerran"
ATTACHED = ("input", "output", "stderr")
TIMEOUT_SECONDS = 60


class GuideError(Exception):
    pass


class Example:
    def __init__(self, line, flags=()):
        self.line = line  # line of the guide where the program starts
        self.flags = set(flags)  # the words after `skerran`
        self.program = ""
        self.blocks = {}  # kind -> text


def fenced_blocks(text):
    """Yield (kind, first line number, content, flags) for every fenced block."""
    lines = text.split("\n")
    index = 0
    while index < len(lines):
        line = lines[index]
        if line.startswith("```"):
            kind, *flags = line[3:].split() or [""]
            start = index + 1
            end = start
            while end < len(lines) and lines[end].rstrip() != "```":
                end += 1
            if end == len(lines):
                raise GuideError(f"line {index + 1}: fenced block is never closed")
            content = "".join(piece + "\n" for piece in lines[start:end])
            yield kind, index + 1, content, flags
            index = end + 1
        else:
            index += 1


def collect_examples(text):
    examples = []
    current = None
    for kind, line, content, flags in fenced_blocks(text):
        if kind == PROGRAM:
            examples.append(Example(line, flags))
            current = examples[-1]
            current.program = content
        elif kind in ATTACHED:
            if current is None:
                raise GuideError(f"line {line}: `{kind}` block with no program before it")
            if kind in current.blocks:
                raise GuideError(f"line {line}: second `{kind}` block for the program of line {current.line}")
            if kind == "input" and ("output" in current.blocks or "stderr" in current.blocks):
                raise GuideError(f"line {line}: `input` block must come before the program's results")
            current.blocks[kind] = content
    for example in examples:
        if "output" not in example.blocks and "stderr" not in example.blocks:
            raise GuideError(f"line {example.line}: program has neither an `output` nor a `stderr` block")
    return examples


def show(text):
    if not text:
        return "    (nothing)\n"
    shown = "".join(f"    | {piece}\n" for piece in text.removesuffix("\n").split("\n"))
    return shown if text.endswith("\n") else shown + "    (no line feed at the end)\n"


def run_example(skern, example, directory):
    source = os.path.join(directory, "example.skr")
    with open(source, "w", encoding="utf-8", newline="") as handle:
        handle.write(example.program)
    try:
        result = subprocess.run(
            [skern, source],
            input=example.blocks.get("input", "").encode("utf-8"),
            capture_output=True,
            timeout=TIMEOUT_SECONDS,
            cwd=directory,
        )
    except subprocess.TimeoutExpired:
        return [f"did not finish within {TIMEOUT_SECONDS} seconds"]
    problems = []
    expected_status = 1 if "stderr" in example.blocks else 0
    checks = (
        ("standard output", example.blocks.get("output", ""), result.stdout.decode("utf-8", "replace")),
        ("standard error", example.blocks.get("stderr", ""), result.stderr.decode("utf-8", "replace")),
    )
    for stream, expected, actual in checks:
        if expected != actual:
            problems.append(f"{stream} differs\n  expected:\n{show(expected)}  actual:\n{show(actual)}")
    if result.returncode != expected_status:
        problems.append(f"exit status {result.returncode}, expected {expected_status}")
    return problems


def main(argv):
    if len(argv) != 3:
        print("usage: check_guide.py SKERN GUIDE", file=sys.stderr)
        return 2
    skern, guide = os.path.abspath(argv[1]), argv[2]
    with open(guide, encoding="utf-8") as handle:
        text = handle.read()
    try:
        examples = collect_examples(text)
    except GuideError as error:
        print(f"{guide}: {error}", file=sys.stderr)
        return 1
    if not examples:
        print(f"{guide}: no examples found", file=sys.stderr)
        return 1

    failed = 0
    with tempfile.TemporaryDirectory(prefix="skern-guide-") as directory:
        for example in examples:
            problems = run_example(skern, example, directory)
            if problems:
                failed += 1
                print(f"{guide}:{example.line}: example fails")
                for problem in problems:
                    print(f"  {problem}".rstrip("\n"))
    if failed:
        print(f"{failed} of {len(examples)} examples failed")
        return 1
    print(f"checked {len(examples)} examples, all match")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
