"""Names: which variables are visible where, and what a function takes from its callers."""

from __future__ import annotations

from .model import COUNTERS, DEPTH, NAMES, VALUE_KINDS, Req


class ScopeMixin:
    """Finds and records variables: locals, caller variables, fresh names."""

    def note(self, ctx, event):
        events = ctx.func.events if ctx.func is not None else self.main_events
        events[event] = events.get(event, 0) + 1

    def stats(self):
        """Events in the main block and in every function it may reach."""
        reached, todo = set(), list(self.main_callees)
        while todo:
            f = todo.pop()
            if f not in reached:
                reached.add(f)
                todo.extend(f.callees)
        total = dict(self.main_events)
        for f in reached:
            for event, count in f.events.items():
                total[event] = total.get(event, 0) + count
        total["functions"] = len(self.funcs)
        total["reached"] = len(reached)
        return total

    def new_func_name(self):
        if self.names:
            return self.names.pop()
        return "council%d" % len(self.funcs)

    def can_add_free(self, ctx, name, req):
        f = ctx.func
        if f is None or name in f.params:
            return False
        if f.locked is not None and name not in f.locked:
            return False
        if req.retype is not None or req.typed is False:
            return False
        for snap in f.snapshots:
            var = snap.get(name)
            if var is not None and not self.fits(var, req):
                return False
        return True

    @staticmethod
    def fits(var, req):
        if var.kind != req.kind:
            return False
        if req.typed is True and not var.typed:
            return False
        return True

    @staticmethod
    def same_req(have, want):
        if have.kind != want.kind or want.retype is not None:
            return False
        return want.typed is None or have.typed == want.typed

    def add_free(self, ctx, name, req):
        """Makes `name` a caller variable of the current function; False if it cannot be."""
        have = ctx.func.free.get(name)
        if have is not None:
            if not self.same_req(have, req):
                return False
            have.write = have.write or req.write
            return True
        if not self.can_add_free(ctx, name, req):
            return False
        ctx.func.free[name] = Req(req.kind, req.typed, req.write)
        return True

    # -------------------------------------------------------------- variables

    def read_var(self, ctx, kind):
        """A visible name holding `kind`, possibly a new caller variable; or None."""
        rng = self.rng
        if ctx.func is not None and ctx.func.locked is None and rng.random() < 0.3:
            pool = list(NAMES) + list(COUNTERS if kind == "blade" else ())
            name = rng.choice(pool)
            if ctx.local(name) is None and name not in ctx.func.free:
                if self.add_free(ctx, name, Req(kind)):
                    self.note(ctx, "free_reads")
                    return name
        cands = [n for n, v in ctx.visible().items() if v.kind == kind]
        if not cands:
            return None
        name = rng.choice(cands)
        if ctx.local(name) is None:
            self.note(ctx, "free_reads")
        return name

    def write_var(self, ctx, kind=None):
        """(name, Var or Req) that may be assigned a value of its kind, or None."""
        rng = self.rng
        if ctx.func is not None and ctx.func.locked is None and rng.random() < 0.35:
            name = rng.choice(NAMES)
            k = kind or rng.choice(VALUE_KINDS)
            if ctx.local(name) is None:
                req = Req(k, None, True)
                if self.add_free(ctx, name, req):
                    self.note(ctx, "free_writes")
                    return name, ctx.func.free[name]
        cands = [(n, v) for n, v in ctx.visible().items()
                 if n not in COUNTERS and n != DEPTH and v.kind != "void" and (kind is None or v.kind == kind)]
        if not cands:
            return None
        name, v = rng.choice(cands)
        if isinstance(v, Req):
            v.write = True
            self.note(ctx, "free_writes")
        return name, v

    def decl_name(self, ctx):
        """A name not in the innermost scope; often one that shadows something."""
        rng = self.rng
        inner = ctx.scopes[-1]
        shadowable = [n for n in ctx.visible() if n not in inner and n in NAMES]
        if shadowable and rng.random() < 0.5:
            return rng.choice(shadowable)
        free = [n for n in NAMES if n not in inner]
        if rng.random() < 0.03:
            # Variables and functions have names of their own.
            free = [f.name for f in self.funcs if f.name not in inner] or free
        if not free:
            return None
        return rng.choice(free)
