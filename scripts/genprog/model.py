"""What the generator draws from and what it keeps track of.

The vocabulary (kinds, the small pool of names, literals that are awkward
for an engine), and the static picture of a program under construction:
variables, what a function needs from its callers, functions, budgets of
statement executions, and the place code is being written.
"""

from __future__ import annotations

KINDS = ("blade", "wine", "scroll", "vow", "sigil", "void")
VALUE_KINDS = ("blade", "wine", "scroll", "vow", "sigil")
NUMERIC = ("blade", "wine")
# Few names, so that the same name is declared at many levels at once.
NAMES = ("a", "b", "c", "n", "s", "t", "w", "x", "y", "gold", "hero", "tally")
# Loop counters: only ever increased, so every `while` ends.
COUNTERS = ("i", "j", "k")
DEPTH = "depth"
# Most runs of one loop body: texts grow by a few bytes a run, and a body
# that prints them must not print megabytes.
MAX_MULT = 500
FUNCTION_NAMES = (
    "raven", "crow", "wolf", "stag", "lion", "kraken", "dragon", "bear", "rose", "trout",
    "falcon", "hound", "bat", "sun", "spider", "owl", "boar", "eagle", "fox", "hawk",
)

SMALL_BLADES = tuple(str(v) for v in range(0, 13))
BIG_BLADES = (
    "100", "255", "1000", "65536", "2147483647", "2147483648", "4294967296", "3037000499", "3037000500",
    "9007199254740992", "9007199254740993", "9007199254740995", "4611686018427387904",
    "9223372036854775806", "9223372036854775807", "1000000007", "123456789123456789",
)
WINES = (
    "0.0", "1.0", "0.5", "1.5", "2.5", "0.1", "0.2", "0.3", "3.25", "10.0", "100.0", "0.0000001",
    "0.000001", "123456789.125", "1000000000000000000000.0", "9007199254740993.0", "1.7976931348623157",
    "3.141592653589793", "2.718281828459045", "0.30000000000000004", "1234567890123456789012345.5",
    "0.1000000000000000055511151231257827", "7.0", "65536.0", "4.35", "0.007",
    "1" + "0" * 308 + ".0", "0." + "0" * 322 + "5", "99999999999999999999.99",
)
# Safe in any statement: no `=`, no " is a ", no " with ".
SCROLLS = (
    '""', '"a"', '"Winter"', '"is coming"', r'"x\ny"', r'"tab\there"', r'"q\"uote"', r'"back\\slash"',
    r'"\q"', '"é"', '"日本"', '"😀"', '"// not a comment"', '"it\'s"', '" "', '"  spaced  "', r'"\r"',
    '"a b c"', '"!"', '"-"', '"0"', '"aye"', '"nay"', '"void"', '"Stark"', '"Lannister"', r'"\\"',
)
# Only where a statement form cannot be confused by them (speak, return).
TRICKY_SCROLLS = ('"a = b"', '"x is a blade with 1"', '"=="', '"speaks for input"', '" with "')
SIGILS = (
    "'a'", "'Z'", "'0'", "' '", r"'\n'", r"'\t'", r"'\''", r"'\\'", "'é'", "'€'", "'😀'", "'\"'", "'/'",
    "'x'",
)


class Var:
    """A variable the generator knows about; `typed` is False for parameters."""

    __slots__ = ("kind", "typed")

    def __init__(self, kind, typed):
        self.kind = kind
        self.typed = typed


class Req:
    """A caller variable a function reads or assigns without declaring it.

    typed: None (either), True (declared with a type: input), False (a
    parameter: the function stores a value of another kind, `retype`)."""

    __slots__ = ("kind", "typed", "write", "retype")

    def __init__(self, kind, typed=None, write=False, retype=None):
        self.kind = kind
        self.typed = typed
        self.write = write
        self.retype = retype


class Func:
    def __init__(self, name, params, kinds, ret):
        self.name = name
        self.params = params
        self.kinds = kinds
        self.ret = ret  # a kind, None for no return (void), "any" for a kind per path
        self.free = {}
        self.cost = 1
        self.lines = []
        self.recursive = False  # params[0] is DEPTH
        self.max_depth = 0
        self.locked = None  # names allowed in `free`, for the second of a mutual pair
        self.snapshots = []  # visible locals at each call of itself or of its partner
        self.callees = set()
        self.events = {}  # what its code does, for the statistics
        self.writes = None  # (name, kind) of a caller variable it always assigns first
        self.small_returns = False  # returns literals only, so `s = s + (f with)` cannot double s
        self.complete = False
        self.partner = None
        self.header = None


class Budget:
    def __init__(self, limit):
        self.used = 0
        self.limit = limit

    def fits(self, amount):
        return self.used + amount <= self.limit


class Ctx:
    """Where code is being generated: a function body or the main block."""

    def __init__(self, func, budget):
        self.func = func
        self.budget = budget
        self.scopes = [{}]
        self.lines = []
        self.level = 1
        self.mult = 1
        self.loops = 0
        self.guard = False  # inside the `if depth > 0:` of a recursive function
        self.calls = True  # False while the order of input reads must stay known

    def top(self):
        return len(self.scopes) == 1 and self.loops == 0

    def local(self, name):
        for scope in reversed(self.scopes):
            if name in scope:
                return scope[name]
        return None

    def visible(self):
        """name -> Var (local) or Req (from the callers)."""
        seen = {}
        if self.func is not None:
            seen.update(self.func.free)
        for scope in self.scopes:
            seen.update(scope)
        return seen

    def locals_flat(self):
        seen = {}
        for scope in self.scopes:
            seen.update(scope)
        return seen

    def emit(self, text):
        self.lines.append((self.level, text))

    def push(self, times=1):
        self.scopes.append({})
        self.level += 1
        self.mult *= times
        if times != 1:
            self.loops += 1

    def pop(self, times=1):
        self.scopes.pop()
        self.level -= 1
        self.mult //= times
        if times != 1:
            self.loops -= 1

    def charge(self, amount):
        self.budget.used += amount * self.mult


def paren(e):
    return ("(" + e[0] + ")", "atom")


def left(e):
    return paren(e) if e[1] == "call" else e


def right(e):
    return paren(e) if e[1] in ("binary", "call") else e
