"""Deliberate runtime errors, placed late in a run or in code that never runs."""

from __future__ import annotations

from .model import COUNTERS, DEPTH, KINDS, NAMES, NUMERIC, VALUE_KINDS, Budget, Ctx, Func, Var


class FaultMixin:
    """A catalogue of statements that fail when they run."""

    def error_statement(self, ctx):
        """A statement that fails when it runs (late, by construction of the caller)."""
        rng = self.rng
        vis = ctx.visible()

        def value(kind):
            names = [n for n, v in vis.items() if v.kind == kind]
            if names and (rng.random() < 0.5 or kind == "void"):
                return rng.choice(names)
            if kind == "void":
                return "(%s with)" % self.void_func() if self.void_func() else "(nobody with)"
            return self.literal(kind)[0]

        choice = rng.randrange(23)
        if choice == 0:
            bad = {"+": [("blade", "scroll"), ("scroll", "blade"), ("vow", "vow"), ("sigil", "sigil"),
                         ("scroll", "sigil"), ("wine", "vow"), ("void", "blade")],
                   "-": [("scroll", "scroll"), ("vow", "blade"), ("sigil", "wine"), ("blade", "void")],
                   "*": [("scroll", "blade"), ("blade", "scroll"), ("vow", "vow")],
                   "/": [("scroll", "blade"), ("blade", "vow"), ("scroll", "scroll")],
                   "<": [("scroll", "scroll"), ("blade", "scroll"), ("vow", "vow"), ("sigil", "sigil")],
                   ">": [("sigil", "blade"), ("void", "void"), ("wine", "scroll")]}
            op = rng.choice(list(bad))
            ka, kb = rng.choice(bad[op])
            ctx.emit("speak %s %s %s" % (value(ka), op, value(kb)))
        elif choice == 1:
            op, kind = rng.choice((("-", "scroll"), ("-", "vow"), ("-", "sigil"), ("!", "blade"), ("!", "scroll"),
                                   ("!", "wine"), ("-", "void"), ("!", "void")))
            ctx.emit("speak %s%s" % (op, value(kind) if kind != "void" else value(kind)))
        elif choice == 2:
            zero = rng.choice(("0", "0.0", "-0.0", "(3 - 3)", "(0.5 - 0.5)", "(0 * 17)", "-0"))
            ctx.emit("speak %s / %s" % (value(rng.choice(NUMERIC)), zero))
        elif choice == 3:
            typed = [(n, v) for n, v in vis.items() if isinstance(v, Var) and v.typed and n not in COUNTERS]
            if typed:
                name, v = rng.choice(typed)
                wrong = rng.choice([k for k in KINDS if k != v.kind and not (v.kind == "wine" and k == "blade")])
                if wrong == "void" and not self.void_func():
                    wrong = "scroll"
                ctx.emit("%s = %s" % (name, value(wrong)))
            else:
                ctx.emit("ghost is a blade with 2.5")
        elif choice == 4:
            kind = rng.choice(KINDS)
            wrong = rng.choice([k for k in VALUE_KINDS if k != kind and not (kind == "wine" and k == "blade")])
            ctx.emit("fresh is a %s with %s" % (kind, value(wrong)))
        elif choice == 5:
            name = rng.choice(NAMES)
            if name not in ctx.scopes[-1]:
                ctx.emit("%s is a blade with 1" % name)
            ctx.emit("%s is a scroll with \"again\"" % name)
        elif choice == 6:
            ghost = rng.choice(("ghost", "Gold", "nobody"))
            form = rng.choice(("speak %s", "%s = 1", "speak 1 + %s", "%s = %s", "%s = %s + 1", "%s = %s + %s",
                               "%s = %s * 2.5", "%s = %s + \"x\"", "%s = 1 + 2", "speak -%s", "if %s > 1:"))
            ctx.emit(form.replace("%s", ghost))
            if form.startswith("if"):
                ctx.push()
                ctx.emit("speak 1")
                ctx.pop()
        elif choice == 7:
            ctx.emit(rng.choice(("speak nobody with 1", "nobody with", "speak nobody with ghost",
                                 "x9 is a blade with nobody with 2")))
        elif choice == 8:
            fs = [f for f in self.funcs if f.complete]
            if fs:
                f = rng.choice(fs)
                n = len(f.params) + rng.choice((-1, 1, 2)) if f.params else rng.choice((1, 2))
                args = ", ".join(self.literal("blade")[0] for _ in range(max(0, n)))
                ctx.emit("speak %s with %s" % (f.name, args) if args else "speak %s with" % f.name)
            else:
                ctx.emit("speak nobody with")
        elif choice == 9:
            f = Func(self.new_func_name(), ["p", "q", "p"], ["blade"] * 3, None)
            f.header = "we declare %s with p, q, p ->" % f.name
            f.lines = [(1, "speak p")]
            self.extra_funcs.append(f)
            ctx.emit("%s with 1, 2, 3" % f.name)
        elif choice == 10:
            ctx.emit(rng.choice(("if %s:", "while %s:")) % value(rng.choice(("blade", "scroll", "wine", "sigil"))))
            ctx.push()
            ctx.emit("speak \"unreached\"")
            ctx.pop()
        elif choice == 11:
            ctx.emit("the realm marches %s times:" % rng.choice(
                ("-1", "0 - 1", "2.0", "\"3\"", "-9223372036854775807", "aye", "'3'", "1.0 * 2")))
            ctx.push()
            ctx.emit("speak \"unreached\"")
            ctx.pop()
        elif choice == 12:
            c = "spin"
            ctx.emit("%s is a blade with 0" % c if c not in ctx.scopes[-1] else "speak 0")
            ctx.emit("while aye:" if rng.random() < 0.5 else "while spin > -1:")
            ctx.push()
            ctx.emit("spin = spin + 1")
            if rng.random() < 0.2:
                # The number of runs before the error shows in the output.
                ctx.emit("speak spin")
            ctx.pop()
        elif choice == 13:
            if ctx.func is not None and ctx.func.params and rng.random() < 0.6:
                ctx.emit("%s speaks for input" % rng.choice(ctx.func.params))
            else:
                name = rng.choice(("ghost", "v0id"))
                if name == "v0id":
                    if self.void_func():
                        ctx.emit("v0id is a void with %s with" % self.void_func())
                    else:
                        name = "ghost"
                ctx.emit("%s speaks for input" % name)
        elif choice == 14:
            f = Func(self.new_func_name(), ["n"], ["blade"], "blade")
            f.lines = [(1, "s0 is a scroll with \"%s\"" % "x"), (1, "return %s with n + 1" % f.name)]
            self.extra_funcs.append(f)
            ctx.emit("speak %s with 0" % f.name)
        elif choice == 15:
            # A callee storing the wrong kind into a typed variable of its caller.
            typed = [(n, v) for n, v in ctx.locals_flat().items() if v.typed and n not in COUNTERS]
            if typed:
                name, v = rng.choice(typed)
                wrong = rng.choice([k for k in VALUE_KINDS if k != v.kind and not (v.kind == "wine" and k == "blade")])
                f = Func(self.new_func_name(), [], [], None)
                f.lines = [(1, "speak %s" % name), (1, "%s = %s" % (name, self.literal(wrong)[0]))]
                self.extra_funcs.append(f)
                ctx.emit("%s with" % f.name)
            else:
                ctx.emit("speak ghost")
        elif choice == 16:
            # A callee reading a name that nothing on the way to it declares.
            f = Func(self.new_func_name(), ["p"], ["blade"], "blade")
            lost = rng.choice(("lost", "Gold"))
            f.lines = [(1, "speak p"), (1, "return p + %s" % lost)]
            self.extra_funcs.append(f)
            ctx.emit("speak %s with 1" % f.name)
        elif choice == 17:
            s = [n for n, v in vis.items() if v.kind == "scroll" and n not in COUNTERS]
            if s:
                name = rng.choice(s)
                ctx.emit("%s = %s + \"a\" + %s + \"b\"" % (name, name, value(rng.choice(("blade", "sigil", "vow")))))
            else:
                ctx.emit("speak \"a\" + 'b'")
        elif choice == 18:
            ctx.emit("speak nobody with (1 / 0)")
        elif choice == 19:
            # `x = x op e` with e of a kind x cannot take, or an unknown x
            # whose right side runs first.
            cands = [(n, v) for n, v in vis.items() if n not in COUNTERS and n != DEPTH]
            if cands:
                name, v = rng.choice(cands)
                bad = {"blade": ("0.5", "1.5", "\"a\"", "aye"), "wine": ("\"a\"", "'c'", "nay"),
                       "scroll": ("1", "'c'", "2.5", "aye"), "vow": ("aye", "1", "\"a\""),
                       "sigil": ("'c'", "1", "\"a\""), "void": ("1", "aye")}[v.kind]
                op = rng.choice("+-*/") if v.kind != "scroll" else rng.choice(("+", "+", "-", "*"))
                ctx.emit("%s = %s %s %s" % (name, name, op, rng.choice(bad)))
            else:
                ctx.emit("ghost = (nobody with)")
        elif choice == 20:
            # An unknown target: the right side (and its output) comes first.
            fs = [f for f in self.funcs if f.complete and not f.free and not f.params and f.ret is not None]
            call = "(%s with)" % rng.choice(fs).name if fs else "1"
            ctx.emit("ghost = %s + %s" % (call, call) if rng.random() < 0.3 and fs and fs[0].ret in NUMERIC
                     else "ghost = %s" % call)
        elif choice == 21:
            # Recursion right around the call depth limit.
            f = Func(self.new_func_name(), ["n"], ["blade"], "blade")
            f.lines = [(1, "if n < 1:"), (2, "return 0"), (1, "return (%s with n - 1) + 1" % f.name)]
            self.extra_funcs.append(f)
            ctx.emit("speak %s with %d" % (f.name, rng.choice((199997, 199998, 199999, 200000, 200001))))
        else:
            kind = rng.choice(VALUE_KINDS)
            wrong = rng.choice([k for k in VALUE_KINDS if k != kind and not (kind == "wine" and k == "blade")])
            f = Func(self.new_func_name(), [], [], wrong)
            f.lines = [(1, "return %s" % self.literal(wrong)[0])]
            self.extra_funcs.append(f)
            ctx.emit("late is a %s with %s with" % (kind, f.name))

    def void_func(self):
        for f in self.funcs:
            if f.ret is None and f.complete and not f.params and not f.free:
                return f.name
        return None

    def dead_code(self, ctx):
        """Code that never runs holds errors that must stay silent."""
        rng = self.rng
        header = rng.choice(("if nay:", "the realm marches 0 times:", "if 1 > 2:", "while nay:"))
        ctx.emit(header)
        ctx.push()
        self.error_statement(ctx)
        ctx.pop()

    def late_error(self, ctx):
        rng = self.rng
        where = rng.random()
        if where < 0.45:
            self.error_statement(ctx)
        elif where < 0.7:
            ctx.emit(rng.choice(("if aye:", "the realm marches 3 times:", "if 2 > 1:")))
            ctx.push()
            ctx.emit("speak \"last\"")
            self.error_statement(ctx)
            ctx.pop()
        else:
            # A few calls deep, in functions that see main's variables.
            chain = []
            for _ in range(rng.randint(1, 3)):
                chain.append(Func(self.new_func_name(), [], [], None))
            inner = Ctx(chain[-1], Budget(10))
            inner.scopes = [dict(ctx.locals_flat())]
            self.error_statement(inner)
            chain[-1].lines = [(1, "speak \"deep\"")] + inner.lines
            for outer, callee in zip(chain, chain[1:]):
                outer.lines = [(1, "%s with" % callee.name)]
            self.extra_funcs.extend(chain)
            ctx.emit("%s with" % chain[0].name)
