"""The main block, the standard input, and the text of the whole program."""

from __future__ import annotations

from .model import Budget, Ctx


class ProgramMixin:
    """Writes the main block, the input lines it reads, and lays out the source."""

    def main(self):
        rng = self.rng
        ctx = Ctx(None, Budget(rng.choice((2000, 8000, 20000))))
        # Variables many functions will find, and the input read into them;
        # no calls yet, as a called function may read input too.
        ctx.calls = False
        for _ in range(rng.randint(2, 7)):
            self.stmt_declare(ctx)
        typed = [(n, v) for n, v in ctx.scopes[0].items() if v.kind != "void"]
        for _ in range(rng.choice((0, 0, 1, 2, 3, 4))):
            if not typed:
                break
            name, v = rng.choice(typed)
            ctx.emit("%s speaks for input" % name)
            self.prologue.append(v.kind)
        ctx.calls = True
        n = rng.randint(6, 30)
        for i in range(n):
            if rng.random() < 0.03:
                self.dead_code(ctx)
            self.statement(ctx)
        if rng.random() < 0.08:
            # Return in the main block, maybe in a loop or branch.
            where = rng.random()
            if where < 0.5:
                ctx.emit(rng.choice(("if aye:", "the realm marches 2 times:")))
                ctx.push()
                ctx.emit("return %s" % (self.expr(ctx, "any") or ("0", "atom"))[0])
                ctx.pop()
            else:
                ctx.emit("return %s" % (self.expr(ctx, "any") or ("0", "atom"))[0])
            ctx.emit("speak \"after return\"")
        if self.faults and rng.random() < 0.33:
            self.late_error(ctx)
        return ctx

    def input_line(self, kind, valid=True):
        rng = self.rng
        if kind == "blade":
            good = ("0", "7", "-3", "+12", "0042", "-0", "+0", "9223372036854775807", "-9223372036854775808",
                    "1000000", str(rng.randint(-10 ** 18, 10 ** 18)), str(rng.randint(-100, 100)))
            bad = (" 42", "42 ", "4.2", "", "+", "-", "abc", "9223372036854775808", "-9223372036854775809",
                   "1e3", "٣", "0x10", "--1", "+-1")
        elif kind == "wine":
            good = ("0", "1.5", "-2.25", "1e21", "1E-7", ".5", "5.", "-0", "+3", "inf", "-Infinity", "INF", "nan",
                    "NaN", "-nan", "1e308", "1e309", "4.9e-324", "2.5e-324", "0.1", "123456789012345678901234567890",
                    "+infinity", "3", "-.5e+2")
            bad = ("", " 1", "1.5 ", "1e", "e5", ".", "infinit", "nan1", "1,5", "--1", "0x1p3", "1_000", "+-1",
                   "in f")
        elif kind == "vow":
            good = ("aye", "nay", "true", "false")
            bad = ("Aye", "TRUE", "yes", "", " aye", "aye ", "1")
        elif kind == "sigil":
            good = ("a", "é", "😀", " ", "\t", "€", "Z", "'", "\"", "\\")
            bad = ("", "ab", "e\u0301", "  ")
        else:
            good = ("", "  ", "tab\there", "a\rb", "é😀", "trailing  ", "Winter is coming", "42", "// x", "aye",
                    "\x00nul")
            bad = good
        text = rng.choice(good if valid else bad)
        end = rng.choice((b"\n",) * 12 + (b"\r\n", b"\r\r\n"))
        if not valid and rng.random() < 0.2:
            end = b"\n\r"  # the carriage return starts the next line
        return text.encode("utf-8") + end

    def stdin(self):
        rng = self.rng
        if not self.prologue and not self.dynamic_reads:
            return b"" if rng.random() < 0.9 else b"unread\n"
        out = bytearray()
        for kind in self.prologue:
            out += self.input_line(kind, not self.faults or rng.random() < 0.98)
        # Reads in functions and loops run an unknown number of times: give
        # plenty of lines, and now and then too few, to reach end of input.
        extra = rng.randint(0, 5) if self.faults and rng.random() < 0.1 else rng.randint(100, 600)
        for _ in range(extra):
            out += self.input_line(self.input_kind, not self.faults or rng.random() < 0.997)
        if self.faults and rng.random() < 0.01:
            out += b"\xff\xfe bad\n"
        if out and rng.random() < 0.1:
            out = out.rstrip(b"\r\n")
        return bytes(out)

    def render(self, main_ctx):
        rng = self.rng
        unit = rng.choices(("    ", "  ", "\t", "mixed"), (70, 15, 8, 7))[0]

        def indent(level):
            if unit == "mixed":
                return "".join(rng.choice(("    ", "\t")) for _ in range(level))
            return unit * level

        def block(lines):
            out = []
            for level, text in lines:
                if rng.random() < 0.03:
                    out.append("")
                if rng.random() < 0.02:
                    out.append(indent(level) + "// " + rng.choice(("note", "the watch", "x = 1", "'")))
                tail = ""
                if rng.random() < 0.03:
                    tail = rng.choice(("  // why", "\t// 'quoted'", " ", "   "))
                out.append(indent(level) + text + tail)
            return out

        sections = []
        for f in self.funcs + self.extra_funcs:
            header = f.header
            if header is None:
                if f.params:
                    sep = ", " if rng.random() < 0.85 else ","
                    header = "we declare %s with %s ->" % (f.name, sep.join(f.params))
                else:
                    header = "we declare %s with ->" % f.name
            lines = f.lines or [(1, "speak \"empty\"")]
            sections.append([header, "council says:"] + block(lines))
        rng.shuffle(sections)
        main = ["on the iron throne:"] + block(main_ctx.lines)
        sections.insert(rng.randint(0, len(sections)), main)
        text = "\n\n".join("\n".join(s) for s in sections) + "\n"
        if rng.random() < 0.05:
            text = text.replace("\n", "\r\n")
        return text

    def break_parse(self, text):
        """One mistake that the parser must report."""
        rng = self.rng
        lines = text.split("\n")
        body = [i for i, l in enumerate(lines) if l.startswith((" ", "\t")) and l.strip()]
        if not body:
            return text
        i = rng.choice(body)
        indent = lines[i][: len(lines[i]) - len(lines[i].lstrip(" \t"))]
        mistake = rng.choice((
            indent + "speak 1 +", indent + "x is a number with 1", indent + "if gold >= 1:", indent + "  speak 1",
            indent + "else:", indent + "2x is a blade with 1", indent + "blade = 3", indent + "speak 9223372036854775808",
            indent + "speak 5 with 1", indent + "speak (1", indent + "speak 'ab'", indent + "ghost is a blade",
            indent + "if aye:", "on the iron throne:", "we declare broken with a, , b ->", indent + "= 5",
            indent + "speak \"unterminated", indent + "speak 1.", indent + "f with )",
        ))
        lines.insert(i + rng.choice((0, 1)), mistake)
        return "\n".join(lines)
