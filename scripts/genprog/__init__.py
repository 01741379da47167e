"""Random Skerran programs, mostly valid, for comparing two skern builds.

The programs aim at what a faster engine is likely to get wrong, so most of
them run to their end or to an error late in the run:

- Functions read and assign variables of their callers that they do not
  declare. The generator keeps a static picture of every scope, and each
  function records which caller names it needs and of what kind. A call is
  only placed where those names resolve to variables of the right kind
  (the caller's own, or, inside a function, its callers' in turn), or where
  the call is preceded by declarations that shadow them, so the same
  function reaches different variables from different callers.
- Names come from a small pool, so one name is declared in main, in callers,
  in callees and in nested blocks, and parameters shadow caller variables.
- Bounded recursion (a `depth` parameter guarded by `if depth > 0:`) and
  mutual recursion; recursive calls see the variables of the invocations
  beneath them.
- Updates `x = x + (f with y)` and `s = s + (f with x) + "y"` where f
  assigns x or s: the value x had before the call is the left operand.
- Blades beyond 2 ** 53, compared (as floats) with their near neighbours.
- Blocks with declarations in loops and branches, `while` with counters,
  `the realm marches` with computed counts, typed input with awkward lines.
- About a third of the programs end with a deliberate runtime error, placed
  late (in main, a loop, or a few calls deep), from a catalogue of every
  runtime error; a few per cent get a parse error.

Every loop and recursion is bounded and the generator estimates statement
executions, so each run takes milliseconds.

`Gen` combines one mixin per concern (see the modules); all of them share
one random generator, so the order of the calls into it is what fixes a
program for a seed.
"""

from __future__ import annotations

import random

from .blocks import BlockMixin
from .calls import CallMixin
from .expressions import ExpressionMixin
from .faults import FaultMixin
from .functions import FunctionMixin
from .model import FUNCTION_NAMES, Func
from .program import ProgramMixin
from .scopes import ScopeMixin
from .statements import StatementMixin

__all__ = ["Gen", "generate", "program_rng"]


class Gen(ScopeMixin, ExpressionMixin, CallMixin, StatementMixin, BlockMixin, FunctionMixin, FaultMixin,
          ProgramMixin):
    """The state of one program under construction."""

    def __init__(self, rng):
        self.rng = rng
        self.funcs = []
        self.names = list(FUNCTION_NAMES)
        rng.shuffle(self.names)
        self.input_kind = rng.choice(("blade", "wine", "vow", "sigil", "scroll", "scroll"))
        self.prologue = []  # kinds read by the main block's first input statements
        self.dynamic_reads = 0
        self.doublings = 0
        self.extra_funcs = []  # deliberately broken or never called
        self.faults = True
        self.main_callees = set()
        self.main_events = {}


def generate(rng, faults=True):
    """One program: (source text as bytes, standard input bytes, statistics).

    Without `faults` no error is put in on purpose, so any error in the run
    points at a mistake of the generator."""
    gen = Gen(rng)
    gen.faults = faults
    for _ in range(rng.choice((1, 2, 3, 4, 5, 6, 7))):
        gen.add_function()
    main_ctx = gen.main()
    # Functions nobody calls may hold anything.
    if rng.random() < 0.1:
        f = Func(gen.new_func_name(), ["p", "p"], ["blade", "blade"], None)
        f.lines = [(1, "speak ghost + p")]
        gen.extra_funcs.append(f)
    text = gen.render(main_ctx)
    if faults and rng.random() < 0.04:
        text = gen.break_parse(text)
    return text.encode("utf-8"), gen.stdin(), gen.stats()


def program_rng(seed, index):
    """The generator of program `index` under `seed`, independent of all others."""
    return random.Random("%d/%d" % (seed, index))
