#!/usr/bin/env python3
"""Writes the program benchmark: one large, varied program in each language.

How to run: run.py writes the files itself when the program benchmark runs;
by hand, `python3 bench/gen_program.py [--lines N]` writes
bench/generated/program.{skr,py,lua}, and `import gen_program;
gen_program.skerran_text(N)` gives the Skerran text alone (growth.py uses
that).

The functions come in families of ten: the first of a family calls two
small helpers, each later one calls the one before it, so a call of a
family's last function runs ten functions. Every function declares a
variable of every type and runs a mix of assignments, if/else, both loops,
a call with three arguments and, rarely, output. The main block calls the
last function of every other family in a loop, so about half of the code
runs and the rest is only read: parsing and running both count. The
Skerran version has about 200,000 lines.
"""

import pathlib

from gen_parse import command_line, write_texts  # lives beside this file

HERE = pathlib.Path(__file__).resolve().parent
FAMILY = 10
# Lines of one Skerran function, on average (checked by lines_of below).
LINES_PER_FUNCTION = 25
ROUNDS = 30


class Code:
    """One piece of code in the three languages, line by line, each line
    with its depth of indentation relative to the enclosing block."""

    def __init__(self):
        self.skr = []
        self.py = []
        self.lua = []

    def line(self, depth, skr, py, lua):
        if skr is not None:
            self.skr.append((depth, skr))
        if py is not None:
            self.py.append((depth, py))
        if lua is not None:
            self.lua.append((depth, lua))


def function(code, i):
    """Appends function number i."""
    first = i % FAMILY == 0
    d = i % 97
    letter = "abcdefghijklmnopqrstuvwxyz"[i % 26]
    word = f"rune{i % 10}"
    code.line(0, f"we declare f{i} with a, b, c ->",
              f"def f{i}(a, b, c):", f"function f{i}(a, b, c)")
    code.line(0, "council says:", None, None)
    code.line(1, f"n is a blade with a + {d}", f"n = a + {d}",
              f"local n = a + {d}")
    code.line(1, f"w is a wine with {i % 7}.5", f"w = {i % 7}.5",
              f"local w = {i % 7}.5")
    code.line(1, f's is a scroll with "{word}"', f's = "{word}"',
              f'local s = "{word}"')
    code.line(1, f"v is a vow with b > {i % 13}", f"v = b > {i % 13}",
              f"local v = b > {i % 13}")
    code.line(1, f"g is a sigil with '{letter}'", f'g = "{letter}"',
              f'local g = "{letter}"')
    code.line(1, "t is a void with (noted with n)", "t = noted(n)",
              "local t = noted(n)")
    code.line(1, f"n = n + (b * {i % 5 + 1})", f"n = n + (b * {i % 5 + 1})",
              f"n = n + (b * {i % 5 + 1})")
    code.line(1, "if v:", "if v:", "if v then")
    code.line(2, "n = n - c", "n = n - c", "n = n - c")
    code.line(2, "w = w + n", "w = w + n", "w = w + n")
    code.line(1, "else:", "else:", "else")
    code.line(2, 's = s + "!"', 's = s + "!"', 's = s .. "!"')
    code.line(1, None, None, "end")
    code.line(1, f"the realm marches {i % 3 + 1} times:",
              f"for _ in range({i % 3 + 1}):", f"for _ = 1, {i % 3 + 1} do")
    code.line(2, "n = n + 1", "n = n + 1", "n = n + 1")
    code.line(1, None, None, "end")
    code.line(1, "k is a blade with 0", "k = 0", "local k = 0")
    code.line(1, f"while k < {i % 4 + 1}:", f"while k < {i % 4 + 1}:",
              f"while k < {i % 4 + 1} do")
    code.line(2, "k = k + 1", "k = k + 1", "k = k + 1")
    code.line(2, "n = n + k", "n = n + k", "n = n + k")
    code.line(1, None, None, "end")
    code.line(1, "if w > 10.0:", "if w > 10.0:", "if w > 10.0 then")
    code.line(2, "n = n + 1", "n = n + 1", "n = n + 1")
    code.line(1, None, None, "end")
    code.line(1, f"if g != '{letter}':", f'if g != "{letter}":',
              f'if g ~= "{letter}" then')
    code.line(2, "n = 0", "n = 0", "n = 0")
    code.line(1, None, None, "end")
    if i % 50 == 7:
        code.line(1, f'if s == "{word}!":', f'if s == "{word}!":',
                  f'if s == "{word}!" then')
        code.line(2, "speak s", "print(s)", "print(s)")
        code.line(2, "speak n", "print(n)", "print(n)")
        code.line(1, None, None, "end")
    if first:
        code.line(1, "n = n + (mix with c, n, 3)", "n = n + mix(c, n, 3)",
                  "n = n + mix(c, n, 3)")
        code.line(1, "return n + (gap with a, b)", "return n + gap(a, b)",
                  "return n + gap(a, b)")
    else:
        code.line(1, f"return n + (f{i - 1} with c, a, b)",
                  f"return n + f{i - 1}(c, a, b)",
                  f"return n + f{i - 1}(c, a, b)")
    code.line(0, None, None, "end")


def helpers(code):
    code.line(0, "we declare noted with x ->", "def noted(x):",
              "function noted(x)")
    code.line(0, "council says:", None, None)
    code.line(1, "y is a blade with x", "y = x", "local y = x")
    code.line(0, None, None, "end")
    code.line(0, "we declare mix with x, y, z ->", "def mix(x, y, z):",
              "function mix(x, y, z)")
    code.line(0, "council says:", None, None)
    code.line(1, "return (x - y) + z", "return (x - y) + z",
              "return (x - y) + z")
    code.line(0, None, None, "end")
    code.line(0, "we declare gap with x, y ->", "def gap(x, y):",
              "function gap(x, y)")
    code.line(0, "council says:", None, None)
    code.line(1, "if x > y:", "if x > y:", "if x > y then")
    code.line(2, "return x - y", "return x - y", "return x - y")
    code.line(1, None, None, "end")
    code.line(1, "return y - x", "return y - x", "return y - x")
    code.line(0, None, None, "end")


def main_block(code, families, rounds):
    code.line(0, "on the iron throne:", "def main():", None)
    code.line(1, "total is a blade with 0", "total = 0", "local total = 0")
    code.line(1, "round is a blade with 0", "round_ = 0", "local round = 0")
    code.line(1, f"the realm marches {rounds} times:",
              f"for _ in range({rounds}):", f"for _ = 1, {rounds} do")
    code.line(2, "round = round + 1", "round_ = round_ + 1",
              "round = round + 1")
    for family in range(0, families, 2):
        last = family * FAMILY + FAMILY - 1
        code.line(2, f"total = total + (f{last} with round, {family % 9}, 2)",
                  f"total = total + f{last}(round_, {family % 9}, 2)",
                  f"total = total + f{last}(round, {family % 9}, 2)")
    code.line(1, None, None, "end")
    code.line(1, "speak total", "print(total)", "print(total)")


def render(lines, unit):
    return "".join(unit * depth + text + "\n" for depth, text in lines)


def build(lines):
    """The program as a list of units: the helpers, every function, then
    the main block, each one a Code."""
    families = max(1, lines // (LINES_PER_FUNCTION * FAMILY))
    units = [Code()]
    helpers(units[0])
    for i in range(families * FAMILY):
        units.append(Code())
        function(units[-1], i)
    units.append(Code())
    main_block(units[-1], families, ROUNDS)
    return units


def skerran_text(lines):
    """The Skerran program of about this many lines."""
    return "".join(render(unit.skr, "    ") for unit in build(lines))


def python_text(units):
    return ("".join(render(unit.py, "    ") for unit in units)
            + "\n\nmain()\n")


def lua_text(units):
    # Global functions, as a Lua function may hold at most 200 locals; they
    # are declared in groups, each inside a function that is called at once,
    # as LuaJIT allows one function at most 65536 constants.
    *functions, main = units
    out = []
    for start in range(0, len(functions), 500):
        out.append("do\nlocal function group()\n")
        out.extend(render(unit.lua, "  ")
                   for unit in functions[start:start + 500])
        out.append("end\ngroup()\nend\n")
    out.append(render(main.lua, "  "))
    return "".join(out)


def generate(lines=200_000, directory=HERE / "generated"):
    """Writes program.skr, program.py and program.lua; gives the directory."""
    units = build(lines)
    return write_texts("program", {
        "skr": "".join(render(unit.skr, "    ") for unit in units),
        "py": python_text(units),
        "lua": lua_text(units),
    }, directory)


if __name__ == "__main__":
    command_line(__doc__, "program", generate)
