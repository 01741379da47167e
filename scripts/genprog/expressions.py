"""Expressions of a wanted kind that evaluate without error."""

from __future__ import annotations

from .model import BIG_BLADES, SCROLLS, SIGILS, SMALL_BLADES, VALUE_KINDS, WINES, left, paren, right


class ExpressionMixin:
    """Literals, operators and nested expressions of each kind."""

    def literal(self, kind):
        rng = self.rng
        if kind == "blade":
            return (rng.choice(BIG_BLADES) if rng.random() < 0.15 else rng.choice(SMALL_BLADES)), "atom"
        if kind == "wine":
            return rng.choice(WINES), "atom"
        if kind == "scroll":
            return rng.choice(SCROLLS), "atom"
        if kind == "vow":
            return rng.choice(("aye", "nay")), "atom"
        if kind == "sigil":
            return rng.choice(SIGILS), "atom"
        return None

    def atom(self, ctx, kind):
        if self.rng.random() < 0.6 or kind == "void":
            name = self.read_var(ctx, kind)
            if name is not None:
                return name, "atom"
        return self.literal(kind)

    def binary(self, a, op, b):
        rng = self.rng
        space = " " if rng.random() < 0.93 else rng.choice(("", "\t", "  "))
        return left(a)[0] + space + op + space + right(b)[0], "binary"

    def unary(self, op, e):
        e = right(e)
        return op + e[0], "unary"

    def any_kind(self, ctx):
        kinds = list(VALUE_KINDS)
        if self.void_source(ctx):
            kinds.append("void")
        return self.rng.choice(kinds)

    def expr(self, ctx, kind, depth=None):
        """Text and shape of an expression giving `kind` without error, or None (void only)."""
        rng = self.rng
        if depth is None:
            depth = rng.choice((0, 1, 1, 2, 2, 3))
        if kind == "any":
            if rng.random() < 0.1:
                call = self.call_expr(ctx, "any", depth)
                if call is not None:
                    return call
            kind = self.any_kind(ctx)
        e = getattr(self, "e_" + kind)(ctx, depth)
        if e is not None and rng.random() < 0.04:
            e = paren(e)
        return e

    def e_blade(self, ctx, d):
        rng = self.rng
        r = rng.random()
        if d <= 0 or r < 0.3:
            return self.atom(ctx, "blade")
        if r < 0.42:
            return self.unary(rng.choice(("-", "-", "- ")), self.e_blade(ctx, d - 1))
        if r < 0.8:
            return self.binary(self.e_blade(ctx, d - 1), rng.choice("+-*"), self.e_blade(ctx, d - 1))
        return self.call_expr(ctx, "blade", d) or self.atom(ctx, "blade")

    def numeric(self, ctx, d):
        return self.e_blade(ctx, d) if self.rng.random() < 0.5 else self.e_wine(ctx, d)

    def divisor(self, ctx, d):
        rng = self.rng
        r = rng.random()
        if r < 0.5:
            lit = rng.choice(("2", "3", "7", "10", "0.5", "3.0", "1.5", "9007199254740993", "0.1"))
            return (lit, "atom") if rng.random() < 0.8 else self.unary("-", (lit, "atom"))
        # e * e + 1 is never zero, for blades (wrapping) and wines alike.
        e = self.numeric(ctx, max(0, d - 1))
        square = self.binary(e, "*", e)
        return paren(self.binary(square, "+", (rng.choice(("1", "0.5")), "atom")))

    def e_wine(self, ctx, d):
        rng = self.rng
        r = rng.random()
        if d <= 0 or r < 0.3:
            return self.atom(ctx, "wine")
        if r < 0.4:
            return self.unary("-", self.e_wine(ctx, d - 1))
        if r < 0.65:
            a, b = self.e_wine(ctx, d - 1), self.numeric(ctx, d - 1)
            if rng.random() < 0.5:
                a, b = b, a
            return self.binary(a, rng.choice("+-*"), b)
        if r < 0.85:
            return self.binary(self.numeric(ctx, d - 1), "/", self.divisor(ctx, d))
        return self.call_expr(ctx, "wine", d) or self.atom(ctx, "wine")

    def e_scroll(self, ctx, d):
        rng = self.rng
        r = rng.random()
        if d <= 0 or r < 0.35:
            return self.atom(ctx, "scroll")
        if r < 0.8:
            # One operand that is not a literal, at most: a text then grows by
            # a few bytes per join and never doubles, in loops and calls too.
            pieces = [self.literal("scroll") for _ in range(rng.randint(1, 3))]
            one = self.call_expr(ctx, "scroll", d - 1) if rng.random() < 0.3 else None
            if one is None:
                one = self.e_scroll(ctx, d - 1)
            pieces.insert(rng.randrange(len(pieces) + 1), one)
            e = pieces[0]
            for piece in pieces[1:]:
                e = self.binary(e, "+", piece)
            return e
        return self.call_expr(ctx, "scroll", d) or self.atom(ctx, "scroll")

    def e_vow(self, ctx, d):
        rng = self.rng
        r = rng.random()
        if d <= 0 or r < 0.2:
            return self.atom(ctx, "vow")
        if r < 0.3:
            return self.unary(rng.choice(("!", "!", "! ")), self.e_vow(ctx, d - 1))
        if r < 0.6:
            a, b = self.numeric(ctx, d - 1), self.numeric(ctx, d - 1)
            if rng.random() < 0.15:
                a = (rng.choice(BIG_BLADES[9:]), "atom")
            return self.binary(a, rng.choice("<>"), b)
        if r < 0.9:
            ka = self.any_kind(ctx)
            kb = ka if rng.random() < 0.7 else self.any_kind(ctx)
            a = self.expr(ctx, ka, d - 1)
            b = a if rng.random() < 0.2 and ka == kb else self.expr(ctx, kb, d - 1)
            if a is None or b is None:
                return self.atom(ctx, "vow")
            return self.binary(a, rng.choice(("==", "!=")), b)
        return self.call_expr(ctx, "vow", d) or self.atom(ctx, "vow")

    def e_sigil(self, ctx, d):
        if d > 0 and self.rng.random() < 0.25:
            call = self.call_expr(ctx, "sigil", d)
            if call is not None:
                return call
        return self.atom(ctx, "sigil")

    def e_void(self, ctx, d):
        rng = self.rng
        names = [n for n, v in ctx.visible().items() if v.kind == "void"]
        if names and rng.random() < 0.5:
            return rng.choice(names), "atom"
        return self.call_expr(ctx, "void", d)

    def void_source(self, ctx):
        if any(v.kind == "void" for v in ctx.visible().values()):
            return True
        return any(f.ret is None and f.complete and not any(k == "void" for k in f.kinds) for f in self.funcs)
