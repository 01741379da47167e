#!/usr/bin/env python3
"""Writes the parse benchmark: one large program in each language.

The program declares many small functions and runs only the last one, so
almost all of the time goes into reading and compiling the source. The
Skerran version has about 200,000 lines (six per function); the Python and
Lua versions declare the same functions in their own syntax.
"""

import argparse
import pathlib

HERE = pathlib.Path(__file__).resolve().parent
LINES_PER_FUNCTION = 6


def skerran(count):
    out = []
    for i in range(count):
        out.append(f"we declare f{i} with a, b ->\n"
                   "council says:\n"
                   f"    x is a blade with a + (b * {i})\n"
                   f"    if x > {i % 97}:\n"
                   f"        return x - (a * {i % 13})\n"
                   "    return x\n")
    out.append("on the iron throne:\n"
               f"    speak f{count - 1} with 1, 2\n")
    return "".join(out)


def python(count):
    out = []
    for i in range(count):
        out.append(f"def f{i}(a, b):\n"
                   f"    x = a + (b * {i})\n"
                   f"    if x > {i % 97}:\n"
                   f"        return x - (a * {i % 13})\n"
                   "    return x\n")
    out.append(f"print(f{count - 1}(1, 2))\n")
    return "".join(out)


def lua(count):
    # Global functions, as a Lua function may hold at most 200 locals; they
    # are declared in groups, each inside a function that is called at once,
    # as LuaJIT allows one function at most 65536 constants.
    out = []
    for i in range(count):
        if i % 1000 == 0:
            if i:
                out.append("end\ngroup()\nend\n")
            out.append("do\nlocal function group()\n")
        out.append(f"function f{i}(a, b)\n"
                   f"  local x = a + (b * {i})\n"
                   f"  if x > {i % 97} then\n"
                   f"    return x - (a * {i % 13})\n"
                   "  end\n"
                   "  return x\n"
                   "end\n")
    out.append("end\ngroup()\nend\n")
    out.append(f"print(f{count - 1}(1, 2))\n")
    return "".join(out)


def write_if_changed(path, text):
    """Writes `text` to `path`, leaving an identical file alone so that its
    timestamp stays put."""
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def write_texts(name, texts, directory):
    """Writes NAME.skr, NAME.py and NAME.lua from `texts` (by extension)
    into `directory`; gives the directory."""
    directory.mkdir(parents=True, exist_ok=True)
    for ext, text in texts.items():
        write_if_changed(directory / f"{name}.{ext}", text)
    return directory


def command_line(doc, name, generate):
    """The command line of a generator: --lines N, then the files."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--lines", type=int, default=200_000,
                        help="approximate number of Skerran lines "
                             "(default 200000)")
    args = parser.parse_args()
    directory = generate(args.lines)
    print(f"wrote {directory}/{name}.{{skr,py,lua}}")


def generate(lines=200_000, directory=HERE / "generated"):
    """Writes parse.skr, parse.py and parse.lua; gives the directory."""
    count = max(1, lines // LINES_PER_FUNCTION)
    return write_texts("parse", {"skr": skerran(count), "py": python(count),
                                 "lua": lua(count)}, directory)


if __name__ == "__main__":
    command_line(__doc__, "parse", generate)
