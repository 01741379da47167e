"""Single statements: declarations, assignments, output, input, calls and returns."""

from __future__ import annotations

from .model import COUNTERS, DEPTH, NAMES, TRICKY_SCROLLS, VALUE_KINDS, Req, Var, paren


class StatementMixin:
    """The stmt_* methods that write one statement; each gives False when it cannot go here."""

    def stmt_declare(self, ctx):
        rng = self.rng
        name = self.decl_name(ctx)
        if name is None:
            return False
        kind = rng.choice(VALUE_KINDS + ("blade", "scroll"))
        if rng.random() < 0.05 and self.void_source(ctx):
            kind = "void"
        value_kind = "blade" if kind == "wine" and rng.random() < 0.3 else kind
        e = self.expr(ctx, value_kind)
        if e is None:
            return False
        ctx.emit("%s is a %s with %s" % (name, kind, e[0]))
        ctx.scopes[-1][name] = Var(kind, True)
        ctx.charge(1)
        return True

    def stmt_assign(self, ctx):
        rng = self.rng
        target = self.write_var(ctx)
        if target is None:
            return False
        name, var = target
        kind = var.kind
        r = rng.random()
        typed = isinstance(var, Var) and var.typed
        if (isinstance(var, Var) and not typed and ctx.top() and ctx.func is not None and name in ctx.func.params
                and r < 0.1):
            # A parameter may take any kind.
            new = rng.choice(VALUE_KINDS)
            e = self.expr(ctx, new)
            var.kind = new
            ctx.emit("%s = %s" % (name, e[0]))
        elif kind in ("blade", "wine", "scroll") and r < 0.55:
            self.self_update(ctx, name, kind)
        else:
            value_kind = "blade" if kind == "wine" and typed and rng.random() < 0.3 else kind
            e = self.expr(ctx, value_kind)
            ctx.emit("%s = %s" % (name, e[0]))
        ctx.charge(1)
        return True

    def stmt_retype(self, ctx):
        """A function storing a value of another kind into a parameter of its caller."""
        rng = self.rng
        f = ctx.func
        if f is None or f.locked is not None or f.recursive or not ctx.top():
            return False
        name = rng.choice(NAMES)
        if ctx.local(name) is not None or name in f.free:
            return False
        old, new = rng.sample(VALUE_KINDS, 2)
        e = self.expr(ctx, new, 1)
        f.free[name] = Req(old, False, True, new)
        # From here on the function sees the new kind under that name.
        ctx.scopes[0][name] = Var(new, False)
        ctx.emit("%s = %s" % (name, e[0]))
        self.note(ctx, "free_writes")
        return True

    def writer_call(self, ctx, name, kind):
        """A call giving `kind` that assigns the caller variable `name`, if one fits."""
        if not ctx.calls:
            return None
        cands = [f for f in self.callable_funcs(ctx, kind) if name in f.free and f.free[name].write]
        if not cands:
            return None
        self.rng.shuffle(cands)
        for f in cands[:2]:
            if any(r.retype is not None for r in f.free.values()):
                continue
            planned = self.plan(ctx, f.free, False)
            if planned is None:
                continue
            self.commit(ctx, planned[0])
            args = self.arguments(ctx, f, 1)
            if args is None:
                continue
            ctx.charge(f.cost)
            return self.render_call(ctx, f, args)
        return None

    def self_update(self, ctx, name, kind):
        """`x = x op ...`: the left operand is read before the rest runs."""
        rng = self.rng
        me = (name, "atom")
        if kind == "scroll":
            # Joins of two texts that may both be long run once each, in the
            # main block, and only a few times: they may double a text.
            once = ctx.func is None and ctx.top() and self.doublings < 5
            if once and rng.random() < 0.15:
                self.doublings += 1
                ctx.emit("%s = %s + %s" % (name, name, name))
                return
            e = me
            for _ in range(rng.randint(1, 4)):
                piece = None
                if once and rng.random() < 0.5:
                    piece = self.writer_call(ctx, name, "scroll") or self.call_expr(ctx, "scroll", 1)
                    if piece is not None:
                        self.doublings += 1
                        once = self.doublings < 5
                if piece is None:
                    piece = self.literal("scroll")
                e = self.binary(e, "+", piece)
            ctx.emit("%s = %s" % (name, e[0]))
            return
        op = rng.choice("+-*" if kind == "blade" else "+-*/")
        piece = None
        if rng.random() < 0.4 and op != "/":
            # A call that assigns the variable while its old value waits.
            piece = self.writer_call(ctx, name, "blade")
            if piece is None and kind == "wine":
                piece = self.writer_call(ctx, name, "wine")
        if piece is None:
            if op == "/":
                piece = self.divisor(ctx, 1)
            elif kind == "blade":
                piece = self.e_blade(ctx, 1)
            else:
                piece = self.numeric(ctx, 1)
        if op == "/" and piece[1] != "atom":
            piece = paren(piece)
        e = self.binary(me, op, piece)
        if rng.random() < 0.3 and kind == "blade":
            e = self.binary(e, rng.choice("+-"), self.e_blade(ctx, 0))
        ctx.emit("%s = %s" % (name, e[0]))

    def stmt_update_call(self, ctx):
        """`x = x op (f with ...)` where f assigns x: the old x is the left operand."""
        rng = self.rng
        if not ctx.calls:
            return False
        cands = [f for f in self.callable_funcs(ctx, "any") if f.writes is not None]
        if not cands:
            return False
        f = rng.choice(cands)
        name, kind = f.writes
        var = ctx.local(name)
        if var is None and ctx.func is not None:
            var = ctx.func.free.get(name)
            if var is None and self.add_free(ctx, name, Req(kind, None, True)):
                var = ctx.func.free[name]
        if var is None or var.kind != kind or name in COUNTERS or name == DEPTH:
            return False
        if kind == "blade" and f.ret != "blade" or kind == "scroll" and f.ret != "scroll":
            return False
        if isinstance(var, Req):
            var.write = True
        planned = self.plan(ctx, f.free, False)
        if planned is None:
            return False
        self.commit(ctx, planned[0])
        args = self.arguments(ctx, f, 1)
        if args is None:
            return False
        call = paren(self.render_call(ctx, f, args))
        op = "+" if kind == "scroll" else rng.choice("+-*")
        if kind != "scroll" and rng.random() < 0.2:
            call = paren(self.binary(call, rng.choice("+-"), self.literal("blade")))
        ctx.emit("%s = %s %s %s" % (name, name, op, call[0]))
        self.note(ctx, "update_calls")
        ctx.charge(f.cost + 1)
        if rng.random() < 0.6:
            ctx.emit("speak " + name)
        return True

    def stmt_bigcmp(self, ctx):
        """Blades beyond 2 ** 53 compare as floats: near neighbours are equal there."""
        rng = self.rng
        base = rng.choice((2 ** 53, 2 ** 53, 2 ** 62, 2 ** 63 - 8, 2 ** 60 + 3))
        values = [base + rng.randint(-2, 3) for _ in range(2)]
        values = [min(v, 2 ** 63 - 1) for v in values]
        target = self.write_var(ctx, "blade")
        if target is None or not ctx.calls:
            name = self.decl_name(ctx)
            if name is None:
                return False
            ctx.emit("%s is a blade with %d" % (name, values[0]))
            ctx.scopes[-1][name] = Var("blade", True)
        else:
            name = target[0]
            ctx.emit("%s = %d" % (name, values[0]))
        other = str(values[1])
        if rng.random() < 0.3:
            second = self.decl_name(ctx)
            if second is not None and second != name:
                ctx.emit("%s is a blade with %s" % (second, other))
                ctx.scopes[-1][second] = Var("blade", True)
                other = second
        op = rng.choice(("<", ">", "<", ">", "==", "!="))
        cond = "%s %s %s" % ((name, op, other) if rng.random() < 0.7 else (other, op, name))
        form = rng.random()
        if form < 0.5:
            ctx.emit("if %s:" % cond)
            ctx.push()
            ctx.emit("speak %s" % rng.choice(('"yes"', name, "%s - %s" % (name, other))))
            ctx.pop()
            ctx.emit("else:")
            ctx.push()
            ctx.emit("speak \"no\"")
            ctx.pop()
        elif form < 0.7 and op in "<>":
            # Runs at most once: the body makes the two sides equal.
            ctx.emit("while %s:" % cond)
            ctx.push()
            ctx.emit("speak %s" % name)
            ctx.emit("%s = %s" % (name, other if other != name else values[1]))
            ctx.pop()
        else:
            ctx.emit("speak %s" % cond)
        ctx.charge(3)
        return True

    def stmt_speak(self, ctx):
        rng = self.rng
        if rng.random() < 0.05:
            ctx.emit("speak " + rng.choice(TRICKY_SCROLLS))
        else:
            e = self.expr(ctx, "any")
            if e is None:
                return False
            ctx.emit("speak " + e[0])
        ctx.charge(1)
        return True

    def declare_for(self, ctx, name, req):
        e = self.expr(ctx, req.kind, 1)
        if e is None:
            return False
        ctx.emit("%s is a %s with %s" % (name, req.kind, e[0]))
        ctx.scopes[-1][name] = Var(req.kind, True)
        return True

    def stmt_call(self, ctx):
        """A call as a statement, first declaring what its caller variables need."""
        rng = self.rng
        cands = self.callable_funcs(ctx, "any")
        if not cands:
            return False
        f = rng.choice(cands)
        if ctx.func is not None and ctx.top() and rng.random() < 0.5:
            retypers = [g for g in cands if any(r.retype is not None and ctx.local(n) is not None
                                                 for n, r in g.free.items())]
            if retypers:
                f = rng.choice(retypers)
        planned = self.plan(ctx, f.free, True)
        if planned is None:
            return False
        new_free, declare, retype = planned
        if any(k == "void" for k in f.kinds) and not self.void_source(ctx):
            return False
        # A name declared in the innermost scope cannot be declared again there.
        wrap = any(n in ctx.scopes[-1] for n in declare) or (declare and rng.random() < 0.35)
        if any(r.kind == "void" for r in declare.values()) and not self.void_source(ctx):
            return False
        if wrap and retype:
            return False
        self.commit(ctx, new_free)
        if wrap:
            header = rng.choice(("if aye:", "if 1 < 2:", "the realm marches 1 times:", "if !nay:"))
            ctx.emit(header)
            ctx.push()
        # all() stops at a declaration that cannot be made: then no call.
        declared = all(self.declare_for(ctx, name, req) for name, req in declare.items())
        args = self.arguments(ctx, f, 2) if declared else None
        if args is None:
            ctx.emit("speak " + self.literal("scroll")[0])
        else:
            if declare:
                self.note(ctx, "shadow_calls")
            self.note_resolution(ctx, f)
            call = self.render_call(ctx, f, args)
            if rng.random() < 0.6 or f.ret is None:
                ctx.emit(call[0])
            else:
                ctx.emit("speak " + call[0])
            ctx.charge(f.cost + 1)
            for name, new in retype.items():
                ctx.local(name).kind = new
                self.note(ctx, "retype")
            written = [n for n, r in f.free.items() if r.write and n in ctx.visible()]
            if written and rng.random() < 0.5:
                # What the callee stored must be what the caller reads now.
                ctx.emit("speak " + rng.choice(written))
                ctx.charge(1)
        if wrap:
            ctx.pop()
        return True

    def stmt_input(self, ctx):
        rng = self.rng
        kinds = (self.input_kind, "scroll")
        cands = [n for n, v in ctx.visible().items()
                 if v.kind in kinds and n not in COUNTERS and n != DEPTH
                 and ((isinstance(v, Var) and v.typed) or (isinstance(v, Req) and v.typed is True))]
        if ctx.func is not None and ctx.func.locked is None and rng.random() < 0.4:
            name = rng.choice(NAMES)
            if ctx.local(name) is None and self.add_free(ctx, name, Req(rng.choice(kinds), True, True)):
                cands = [name]
        if not cands:
            return False
        name = rng.choice(cands)
        ctx.emit("%s speaks for input" % name)
        self.dynamic_reads += ctx.mult
        ctx.charge(1)
        return True

    def stmt_return(self, ctx):
        f = ctx.func
        if f is None:
            return False
        if f.ret is None:
            if not self.void_source(ctx):
                return False
            e = self.e_void(ctx, 1)
        elif f.small_returns and f.ret in VALUE_KINDS:
            e = self.literal(f.ret)
        else:
            e = self.expr(ctx, f.ret)
        if e is None:
            return False
        ctx.emit("return " + e[0])
        return True

    def stmt_bump(self, ctx):
        """A function advancing a loop counter of its callers."""
        if ctx.func is None or ctx.func.locked is not None:
            return False
        c = self.rng.choice(COUNTERS)
        if ctx.local(c) is not None:
            return False
        if not self.add_free(ctx, c, Req("blade", None, True)):
            return False
        self.note(ctx, "free_writes")
        ctx.emit("%s = %s + 1" % (c, c))
        return True

    def stmt_expr(self, ctx):
        """A call whose value is thrown away, or an expression with no effect."""
        e = self.call_expr(ctx, "any", 2)
        if e is None:
            e = self.expr(ctx, "blade", 1)
            if e[1] == "atom" and not e[0][0].isalpha():
                e = self.binary(e, "+", ("0", "atom"))
        ctx.emit(e[0])
        ctx.charge(1)
        return True

    def stmt_risky(self, ctx):
        """An operator over values of any kinds: may fail, may not."""
        rng = self.rng
        a = self.expr(ctx, self.any_kind(ctx), 0)
        b = self.expr(ctx, self.any_kind(ctx), 0)
        if a is None or b is None:
            return False
        if rng.random() < 0.2:
            ctx.emit("speak " + self.unary(rng.choice("-!"), a)[0])
        else:
            ctx.emit("speak " + self.binary(a, rng.choice(("+", "-", "*", "/", "<", ">")), b)[0])
        return True
