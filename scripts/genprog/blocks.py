"""Branches, loops and blocks, and the choice of each statement."""

from __future__ import annotations

from .model import COUNTERS, MAX_MULT, Var, left


class BlockMixin:
    """Nested code whose run count the budget follows, and the statement mix."""

    def stmt_counted(self, ctx):
        """`the realm marches v times:` reads v once, though the body changes it."""
        rng = self.rng
        name = self.decl_name(ctx)
        n = rng.choice((0, 1, 2, 3, 4))
        if name is None or ctx.mult * max(n, 1) > MAX_MULT or not ctx.budget.fits(ctx.mult * max(n, 1) * 4):
            return False
        ctx.emit("%s is a blade with %d" % (name, n))
        ctx.scopes[-1][name] = Var("blade", True)
        ctx.emit("the realm marches %s times:" % name)
        ctx.push(max(n, 1))
        guard, ctx.guard = ctx.guard, False
        ctx.emit("%s = %s + %d" % (name, name, rng.randint(1, 3)))
        self.block(ctx, rng.randint(1, 2))
        ctx.guard = guard
        ctx.pop(max(n, 1))
        ctx.emit("speak %s" % name)
        ctx.charge(2)
        return True

    def stmt_if(self, ctx):
        rng = self.rng
        if ctx.level > 4:
            return False
        cond = self.e_vow(ctx, rng.choice((1, 2, 2, 3)))
        ctx.emit("if %s:" % cond[0])
        ctx.charge(1)
        ctx.push()
        self.block(ctx, rng.randint(1, 4))
        ctx.pop()
        if rng.random() < 0.5:
            ctx.emit("else:")
            ctx.push()
            self.block(ctx, rng.randint(1, 3))
            ctx.pop()
        return True

    def count_expr(self, ctx, n):
        rng = self.rng
        r = rng.random()
        if r < 0.7:
            return str(n)
        if r < 0.85:
            return "%d + %d" % (n - 1, 1) if n > 0 else "1 - 1"
        e = self.e_blade(ctx, 1)
        return "(%s * 0) + %d" % (left(e)[0], n)

    def stmt_marches(self, ctx):
        rng = self.rng
        if ctx.level > 4:
            return False
        n = rng.choice((0, 1, 2, 3, 3, 4, 5, 7, 10, 20, 50))
        if ctx.mult * n > MAX_MULT or not ctx.budget.fits(max(n, 1) * ctx.mult * 3):
            n = rng.choice((0, 1, 2))
            if not ctx.budget.fits(max(n, 1) * ctx.mult * 3):
                return False
        ctx.emit("the realm marches %s times:" % self.count_expr(ctx, n))
        ctx.charge(1)
        times = max(n, 1)
        ctx.push(times)
        guard = ctx.guard
        ctx.guard = False
        self.block(ctx, rng.randint(1, 4))
        ctx.guard = guard
        ctx.pop(times)
        return True

    def stmt_while(self, ctx):
        rng = self.rng
        if ctx.level > 4:
            return False
        # A counter that nothing else is called: a shadowing one in the body
        # would take the increment and the loop would never end.
        names = [c for c in COUNTERS if c not in ctx.visible()]
        if not names:
            return False
        c = rng.choice(names)
        n = rng.choice((0, 1, 2, 3, 5, 8, 12, 30))
        if ctx.mult * n > MAX_MULT or not ctx.budget.fits(max(n, 1) * ctx.mult * 4):
            return False
        ctx.emit("%s is a blade with 0" % c)
        ctx.scopes[-1][c] = Var("blade", True)
        count = self.count_expr(ctx, n)
        ctx.emit("while %s < %s:" % (c, count if count.isdigit() else "(" + count + ")"))
        times = max(n, 1)
        ctx.push(times)
        guard = ctx.guard
        ctx.guard = False
        self.block(ctx, rng.randint(1, 3))
        ctx.emit("%s = %s + 1" % (c, c))
        ctx.guard = guard
        ctx.pop(times)
        ctx.charge(2)
        return True

    STATEMENTS = (
        ("declare", 16), ("assign", 16), ("speak", 20), ("call", 16), ("if", 8), ("marches", 6),
        ("while", 4), ("input", 2), ("return", 2), ("bump", 2), ("expr", 3), ("risky", 0.1),
        ("retype", 4), ("update_call", 8), ("bigcmp", 2), ("counted", 2),
    )

    def statement(self, ctx):
        rng = self.rng
        names, weights = zip(*self.STATEMENTS)
        for _ in range(8):
            kind = rng.choices(names, weights)[0]
            if kind == "return" and (ctx.top() or ctx.func is None):
                continue
            if kind == "risky" and not self.faults:
                continue
            if kind in ("if", "marches", "while") and ctx.level > 3 and rng.random() < 0.7:
                continue
            if getattr(self, "stmt_" + kind)(ctx):
                return
        ctx.emit("speak " + self.e_scroll(ctx, 0)[0])
        ctx.charge(1)

    def block(self, ctx, count):
        before = len(ctx.lines)
        for _ in range(count):
            if not ctx.budget.fits(ctx.mult * 2) and len(ctx.lines) > before:
                break
            self.statement(ctx)
        if len(ctx.lines) == before:
            ctx.emit("speak " + self.literal(self.rng.choice(("blade", "scroll")))[0])
