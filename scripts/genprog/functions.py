"""Functions: plain, self-recursive and mutually recursive, with their costs."""

from __future__ import annotations

from .model import COUNTERS, DEPTH, NAMES, VALUE_KINDS, Budget, Ctx, Func, Req, Var


class FunctionMixin:
    """Builds each function's signature and body and estimates what a call costs."""

    def make_func(self, ret=None, recursive=False, nparams=None):
        rng = self.rng
        if nparams is None:
            nparams = rng.choice((0, 1, 1, 2, 2, 3, 4, 5))
        params = []
        pool = list(NAMES)
        rng.shuffle(pool)
        for name in pool:
            if len(params) >= nparams:
                break
            params.append(name)
        kinds = [rng.choice(VALUE_KINDS) for _ in params]
        # Now and then a parameter that a finished function stores another kind into.
        retyped = [(n, r.kind) for g in self.funcs for n, r in g.free.items() if r.retype is not None]
        if retyped and params and not recursive and rng.random() < 0.5:
            name, kind = rng.choice(retyped)
            if name not in params:
                params[0], kinds[0] = name, kind
        if recursive:
            params.insert(0, DEPTH)
            kinds.insert(0, "blade")
        f = Func(self.new_func_name(), params, kinds, ret)
        f.recursive = recursive
        return f

    def random_ret(self):
        r = self.rng.random()
        if r < 0.2:
            return None
        if r < 0.25:
            return "any"
        return self.rng.choice(VALUE_KINDS + ("blade", "scroll"))

    def body(self, f, budget_limit):
        """Generates the statements of f; the recursive part goes in an `if depth > 0:`."""
        rng = self.rng
        ctx = Ctx(f, Budget(budget_limit))
        for p, k in zip(f.params, f.kinds):
            ctx.scopes[0][p] = Var(k, False)
        if f.writes is not None:
            name, kind = f.writes
            self.add_free(ctx, name, Req(kind, None, True))
            self.note(ctx, "free_writes")
            # A blade joins a wine by an operator only: stored alone it would
            # turn a parameter of the caller into a blade.
            op = "+" if kind == "scroll" else rng.choice("+-*")
            piece = self.literal("blade" if kind == "wine" and rng.random() < 0.5 else kind)
            if rng.random() < 0.7:
                ctx.emit("%s = %s %s %s" % (name, name, op, piece[0]))
            else:
                ctx.emit("%s = %s" % (name, self.literal(kind)[0]))
        self.block(ctx, rng.randint(1, 5))
        if f.recursive:
            ctx.emit("if %s > 0:" % DEPTH)
            ctx.push()
            ctx.guard = True
            # Locals that the inner invocation finds in place of this one's callers'.
            for name, req in list(f.free.items()):
                if req.typed is None and rng.random() < 0.4 and name not in COUNTERS:
                    self.declare_for(ctx, name, req)
                    self.note(ctx, "shadow_calls")
            self.block(ctx, rng.randint(1, 4))
            if not f.snapshots:
                # Make sure the recursion happens.
                e = self.recursive_call(ctx, f.partner if f.partner and not f.partner.complete else f, 1)
                if e is not None:
                    ctx.emit(e[0] if rng.random() < 0.5 else "speak " + e[0])
            ctx.guard = False
            ctx.pop()
            self.block(ctx, rng.randint(0, 3))
        if f.ret is not None:
            if f.ret == "any" and rng.random() < 0.7:
                cond = self.e_vow(ctx, 1)
                ctx.emit("if %s:" % cond[0])
                ctx.push()
                ctx.emit("return " + self.expr(ctx, rng.choice(VALUE_KINDS))[0])
                ctx.pop()
            e = self.expr(ctx, f.ret if f.ret != "any" else rng.choice(VALUE_KINDS))
            if f.small_returns:
                e = self.literal(f.ret)
            ctx.emit("return " + e[0])
        return ctx

    def finish(self, f, ctx, calls_per_level=1):
        per_call = max(1, ctx.budget.used)
        if f.recursive:
            b = max(1, len(f.snapshots)) if calls_per_level is None else calls_per_level
            levels = sum(b ** i for i in range(f.max_depth + 2))
            per_call *= levels
        f.cost = per_call
        f.lines = ctx.lines
        f.complete = True

    def add_function(self):
        rng = self.rng
        r = rng.random()
        if r < 0.12:
            self.add_recursive()
        elif r < 0.2:
            self.add_mutual()
        else:
            f = self.make_func(self.random_ret())
            if rng.random() < 0.35:
                # Assigns a caller's variable, for `x = x + (f with ...)`.
                kind = rng.choice(("blade", "blade", "wine", "scroll"))
                f.ret = "scroll" if kind == "scroll" else rng.choice(("blade", "blade", kind))
                f.small_returns = f.ret == "scroll"
                name = rng.choice([n for n in NAMES if n not in f.params])
                f.writes = (name, kind)
            self.funcs.append(f)
            ctx = self.body(f, rng.choice((30, 60, 150, 400)))
            self.finish(f, ctx)

    def add_recursive(self):
        rng = self.rng
        f = self.make_func(self.random_ret(), recursive=True, nparams=rng.choice((0, 1, 2)))
        f.max_depth = rng.choice((2, 3, 4, 5))
        self.funcs.append(f)
        ctx = self.body(f, 40)
        f.max_depth = f.max_depth if len(f.snapshots) < 2 else min(f.max_depth, 4)
        self.finish(f, ctx, calls_per_level=len(f.snapshots) or 1)
        f.events["recursive"] = 1

    def add_mutual(self):
        """Two functions calling each other: f is made first, against a fixed
        set of caller variables for g; g may then use only those."""
        rng = self.rng
        f = self.make_func(self.random_ret(), recursive=True, nparams=rng.choice((0, 1)))
        g = self.make_func(self.random_ret(), recursive=True, nparams=rng.choice((0, 1)))
        f.max_depth = g.max_depth = rng.choice((3, 4, 6))
        f.partner, g.partner = g, f
        g.locked = set()
        for name in rng.sample(NAMES, rng.randint(0, 2)):
            if name not in g.params:
                g.free[name] = Req(rng.choice(VALUE_KINDS), None, rng.random() < 0.5)
                g.locked.add(name)
        self.funcs.append(f)
        ctx_f = self.body(f, 40)
        # f's own count stays 1 per level: one call of g per invocation.
        f.lines = ctx_f.lines
        g_ctx = self.body_with_partner(g, f)
        cost = max(1, ctx_f.budget.used) + max(1, g_ctx.budget.used)
        levels = (f.max_depth + 2) * 2
        f.cost = g.cost = cost * levels
        f.complete = True
        g.lines = g_ctx.lines
        g.complete = True
        self.funcs.append(g)
        f.events["mutual"] = g.events["mutual"] = 1

    def body_with_partner(self, g, f):
        """g's body; its one call of f declares what f needs that g lacks."""
        rng = self.rng
        ctx = Ctx(g, Budget(40))
        for p, k in zip(g.params, g.kinds):
            ctx.scopes[0][p] = Var(k, False)
        self.block(ctx, rng.randint(1, 4))
        ctx.emit("if %s > 0:" % DEPTH)
        ctx.push()
        for name, req in f.free.items():
            var = ctx.local(name)
            if var is not None and self.fits(var, req):
                continue
            if var is None and name in g.free and self.same_req(g.free[name], req):
                continue
            if not self.declare_for(ctx, name, req):
                ctx.emit("%s is a %s with %s" % (name, req.kind, self.literal(req.kind)[0]))
                ctx.scopes[-1][name] = Var(req.kind, True)
        args = self.arguments(ctx, f, 1, depth_arg=(DEPTH + " - 1", "binary"))
        call = self.render_call(ctx, f, args)
        ctx.emit(call[0] if rng.random() < 0.5 else "speak " + call[0])
        ctx.pop()
        self.block(ctx, rng.randint(0, 2))
        if g.ret is not None:
            ret = g.ret if g.ret != "any" else rng.choice(VALUE_KINDS)
            ctx.emit("return " + self.expr(ctx, ret)[0])
        # Partner costs are counted by the caller of this method.
        return ctx
