"""Calls placed only where the callee's caller variables resolve to the right kinds."""

from __future__ import annotations

from .model import DEPTH, Req, left, paren


class CallMixin:
    """Chooses callees, plans how their caller variables are found, renders calls."""

    def plan(self, ctx, reqs, may_declare):
        """How the caller variables `reqs` will be found at a call from ctx.

        Gives (new caller variables of the current function, names to declare
        first, parameters the call retypes), or None when the call cannot go
        here."""
        rng = self.rng
        new_free, declare, retype = {}, {}, {}
        for name, req in reqs.items():
            var = ctx.local(name)
            if var is not None:
                if req.retype is not None:
                    if (ctx.func is not None and name in ctx.func.params and ctx.top() and not var.typed
                            and var.kind == req.kind and name != DEPTH):
                        retype[name] = req.retype
                        continue
                    return None
                if self.fits(var, req) and not (req.write and name in (DEPTH,)):
                    continue
                if may_declare and req.typed is not False:
                    declare[name] = req
                    continue
                return None
            if req.retype is not None:
                return None
            have = ctx.func.free.get(name) if ctx.func is not None else None
            if have is not None:
                if self.same_req(have, req):
                    continue
                if may_declare:
                    declare[name] = req
                    continue
                return None
            if ctx.func is not None and self.can_add_free(ctx, name, req) and (
                    not may_declare or rng.random() < 0.6):
                new_free[name] = req
            elif may_declare:
                declare[name] = req
            else:
                return None
        return new_free, declare, retype

    def commit(self, ctx, new_free):
        for name, req in new_free.items():
            ctx.func.free[name] = Req(req.kind, req.typed, req.write)

    def callable_funcs(self, ctx, kind):
        out = []
        for f in self.funcs:
            if not f.complete:
                continue
            if kind != "any" and f.ret != kind:
                continue
            if kind == "void" and any(k == "void" for k in f.kinds):
                continue
            if not self.budget_fits(ctx, f.cost):
                continue
            out.append(f)
        return out

    def budget_fits(self, ctx, cost):
        return ctx.budget.fits(cost * ctx.mult)

    def arguments(self, ctx, f, d, depth_arg=None):
        rng = self.rng
        args = []
        for i, kind in enumerate(f.kinds):
            if f.recursive and i == 0:
                if depth_arg is not None:
                    args.append(depth_arg)
                else:
                    lit = str(rng.randint(0, f.max_depth))
                    if rng.random() < 0.1:
                        lit = "-1"
                    elif rng.random() < 0.15:
                        # The count of a call evaluated for its side effects.
                        e = self.e_blade(ctx, 1)
                        lit = "(" + left(e)[0] + " * 0) + " + lit
                    args.append((lit, "binary" if " " in lit else "atom"))
                continue
            e = self.expr(ctx, kind, max(0, d - 1))
            if e is None:
                return None
            args.append(e)
        return args

    def render_call(self, ctx, f, args):
        """The text of a call of f from ctx; notes the edge of the call graph."""
        rng = self.rng
        name = f.name
        (ctx.func.callees if ctx.func is not None else self.main_callees).add(f)
        if not args:
            return name + " with", "call"
        parts = []
        for i, a in enumerate(args):
            last = i == len(args) - 1
            if a[1] == "call" and (not last or rng.random() < 0.4):
                a = paren(a)
            parts.append(a[0])
        sep = ", " if rng.random() < 0.9 else ","
        return name + " with " + sep.join(parts), "call"

    def call_expr(self, ctx, kind, d):
        """A call giving `kind` whose caller variables resolve from ctx, or None."""
        rng = self.rng
        if not ctx.calls:
            return None
        cands = self.callable_funcs(ctx, kind)
        own = ctx.func
        # Recursion: the function itself (or its partner) inside its guard.
        if own is not None and ctx.guard and own.recursive and len(own.snapshots) < 2 and ctx.loops == 0:
            target = own.partner if own.partner is not None and not own.partner.complete else own
            if (kind == "any" or target.ret == kind) and rng.random() < 0.7:
                return self.recursive_call(ctx, target, d)
        if not cands:
            return None
        rng.shuffle(cands)
        for f in cands[:3]:
            if any(r.retype is not None for r in f.free.values()):
                continue
            planned = self.plan(ctx, f.free, False)
            if planned is None:
                continue
            self.commit(ctx, planned[0])
            args = self.arguments(ctx, f, d)
            if args is None:
                continue
            self.note_resolution(ctx, f)
            ctx.charge(f.cost)
            return self.render_call(ctx, f, args)
        return None

    def note_resolution(self, ctx, f):
        if ctx.func is not None and any(ctx.local(n) is not None for n in f.free):
            self.note(ctx, "resolved_locally")

    def recursive_call(self, ctx, target, d):
        """A call of the function being generated, or of its unfinished partner."""
        own = ctx.func
        reqs = own.free if target is own else target.free
        for name, req in reqs.items():
            var = ctx.local(name)
            if var is not None and not self.fits(var, req):
                return None
            if var is None and target is not own and not self.add_free(ctx, name, req):
                return None
        own.snapshots.append(ctx.locals_flat())
        args = self.arguments(ctx, target, d, depth_arg=(DEPTH + " - 1", "binary"))
        if args is None:
            return None
        return self.render_call(ctx, target, args)
