"""Hostile but shape-aware calls of every callable, method, attribute and operator of vok_core.

Arguments mostly have the shape a parameter wants (a list of tuples of two numbers, say) and
carry hostile leaves: dunders that raise, return the wrong type or empty the container being
converted, lying sequences, numpy values and extreme numbers. Everything is drawn from one
random.Random, so the Hypothesis harness and the long plain-random loop share it. Budgets are
small (searches of complexity <= 4 on a few rows), so a call costs milliseconds at most.
"""
import copy
import gc
import math
import operator as op
import pickle
import struct

import numpy as np

import vok_math.vok_core as vc
from vok_math import _engine as eng

INF, NAN = math.inf, math.nan
FLOATS = [NAN, INF, -INF, -0.0, 0.0, 5e-324, -5e-324, 1.7976931348623157e308,
          -1.7976931348623157e308, 1e-310, 1e-300, 709.78, 710.0, -710.0, 1.0, -1.0, 0.5,
          2.0, math.pi, 2 * math.pi, -7.0]
INTS = [True, False, 0, -1, 1, 2, 2**63 - 1, 2**63, 2**64 - 1, 2**64, -2**63, -2**63 - 1,
        10**30, -10**30]


class Hostile(BaseException):
    """Raised by dunders: not an Exception, so nothing may swallow or rewrap it."""


class Num:
    """A number through __float__ or __index__, behaving as its mode says."""
    MODES = ("ok", "ok", "raise", "base", "wrong", "subclass", "clear", "grow", "shrink",
             "replace", "gc", "reenter")

    def __init__(self, value, mode, victim=None, index=False):
        self.value, self.mode, self.victim, self.index = value, mode, victim, index

    def __repr__(self):
        return f"Num({self.value!r}, {self.mode!r}, index={self.index})"

    def _act(self):
        v, mode = self.victim, self.mode
        if mode == "raise":
            raise ValueError("hostile dunder")
        if mode == "base":
            raise Hostile()
        if mode == "wrong":
            return "not a number"
        if mode == "subclass":
            return type("I", (int,), {})(1) if self.index else type("F", (float,), {})(1)
        if mode == "gc":
            gc.collect()
        if mode == "reenter":
            vc.rotate_phase_n([(1.0, 2.0)], [0.5])
            vc.find_formula([[0.0, 1.0]], [1.0, 2.0], max_complexity=2, beam_width=4)
        if v is not None:
            if mode == "clear":
                v.clear()
            elif mode == "grow" and len(v) < 64:
                v.extend([Num(1.0, "grow", v, self.index), 2.0, (1.0, 2.0), [3.0]] * 2)
            elif mode == "shrink" and v:
                del v[: max(1, len(v) // 2)]
            elif mode == "replace":
                v[:] = [Num(0.25, "clear", v, self.index), 0.5, (1, 2)]
        return self.value

    def __float__(self):
        out = self._act()
        return float(out) if isinstance(out, int) and not isinstance(out, bool) else out

    def __index__(self):
        if not self.index:
            raise TypeError("no index")
        out = self._act()
        return int(out) if isinstance(out, float) and math.isfinite(out) else out


class LyingList(list):
    def __init__(self, items, claim):
        super().__init__(items)
        self.claim = claim

    def __len__(self):
        if self.claim == "raise":
            raise RuntimeError("len fails")
        return self.claim

    def __repr__(self):
        return f"LyingList({list.__repr__(self)}, {self.claim!r})"


class FailingSeq:
    """A sequence by __len__/__getitem__ that breaks at item `at`."""

    def __init__(self, items, at, exc):
        self.items, self.at, self.exc = items, at, exc

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        if i == self.at:
            raise self.exc("getitem fails")
        return self.items[i]

    def __repr__(self):
        return f"FailingSeq({self.items!r}, {self.at}, {self.exc.__name__})"


class Weird(str):
    """A keyword name that is a str subclass with hostile behaviour of its own."""

    def __eq__(self, other):
        raise Hostile()

    __hash__ = str.__hash__

    def __str__(self):
        raise ValueError("no str")


def rand_float(rng):
    r = rng.random()
    if r < 0.45:
        return rng.choice(FLOATS)
    if r < 0.75:
        return rng.uniform(-10.0, 10.0)
    return struct.unpack("<d", rng.getrandbits(64).to_bytes(8, "little"))[0]


def number(rng, victim=None, index=False):
    """A leaf for a double (or, with index, an integer) parameter."""
    r = rng.random()
    base = rng.choice(INTS) if index else rand_float(rng)
    if r < 0.6:
        return base
    if r < 0.7:
        return rand_float(rng) if index else rng.choice(INTS)
    if r < 0.8:
        try:
            return rng.choice([np.float64, np.float32, np.int64, np.bool_, np.array])(base)
        except (OverflowError, ValueError, TypeError):
            return np.float64(1.5)
    if r < 0.95:
        return Num(base, rng.choice(Num.MODES), victim, index=index or rng.random() < 0.3)
    return rng.choice([None, "1.0", b"1", [1.0], (1.0,), 1j, vc.VOKPair(1, 2), object()])


def sequence(rng, items):
    """Wraps a list of items in a list or another sequence shape (sometimes not a sequence)."""
    r = rng.random()
    if r < 0.65:
        return items
    if r < 0.72:
        return tuple(items)
    if r < 0.8:
        return LyingList(items, rng.choice([0, 1, 10**6, 2**62, "raise"]))
    if r < 0.86:
        return FailingSeq(items, rng.randrange(len(items) + 1),
                          rng.choice([IndexError, ValueError, Hostile]))
    if r < 0.92:
        try:
            return np.array(items, dtype=float)
        except (TypeError, ValueError, OverflowError, Hostile):
            return items
    return rng.choice(["1.0", "", 3.0, None, iter(items), {0: 1.0}, range(3), b"ab",
                       bytearray(b"x"), set(), vc.VOKPoint(1, 2)])


def doubles(rng, n=None):
    """A vector-of-doubles argument, possibly carrying dunders that mutate it."""
    n = rng.choice([0, 1, 2, 3, 4, 5, 8]) if n is None else n
    victim, hostile = [], rng.random() < 0.5
    for _ in range(n):
        victim.append(number(rng, victim) if hostile else rand_float(rng))
    return sequence(rng, victim)


def columns(rng, rows):
    """x_data: a few columns of the same length, sometimes ragged, sometimes hostile."""
    outer = []
    for _ in range(rng.choice([1, 1, 1, 2, 3, 0])):
        n = rows if rng.random() < 0.85 else rng.choice([0, 1, rows + 1, max(rows - 1, 0)])
        col = doubles(rng, n)
        if rng.random() < 0.05:
            col = Num(1.0, rng.choice(Num.MODES), outer)  # an item that is not a sequence
        outer.append(col)
    if outer and isinstance(outer[0], list) and rng.random() < 0.1:
        # A dunder in a column that mutates the outer list.
        outer[0].insert(0, Num(0.5, rng.choice(["clear", "grow", "shrink", "replace"]), outer))
    return sequence(rng, outer)


def pairs(rng):
    """A vector of (real, imag) tuples, with the odd wrong shape."""
    victim = []
    for _ in range(rng.choice([0, 1, 2, 3, 5])):
        r = rng.random()
        if r < 0.9:
            width = 2 if r < 0.8 else rng.choice([0, 1, 3])
            victim.append(tuple(number(rng, victim) for _ in range(width)))
        else:
            victim.append(rng.choice([[1.0, 2.0], vc.VOKPair(1, 2), None, 1.0, "ab",
                                      type("T", (tuple,), {})((1.0, 2.0)), np.array([1.0, 2.0])]))
    return sequence(rng, victim)


def count(rng, hi=40, huge=(2**40, 10**15, 2**62, 2**63, 2**64 - 1)):
    """An unsigned count: small and valid, impossible, negative or hostile, never mid-sized."""
    r = rng.random()
    if r < 0.7:
        return rng.randrange(0, hi + 1)
    if r < 0.8:
        return rng.choice(huge)
    if r < 0.9:
        return rng.choice([-1, -2**63, 2**64, 10**30, 2.0, 3.5, NAN, "3", None, np.int64(3),
                           np.uint64(2), np.float64(2.0), np.array(2)])
    return Num(rng.randrange(0, hi + 1), rng.choice(Num.MODES), None, index=True)


def flag(rng):
    if rng.random() < 0.85:
        return rng.random() < 0.5
    return rng.choice([1, 0, None, np.bool_(True), np.bool_(False), "True", Num(1, "ok")])


def pair_obj(rng):
    return vc.VOKPair(rand_float(rng), rand_float(rng))


def point_obj(rng):
    return vc.VOKPoint(rand_float(rng), rand_float(rng))


def knot_obj(rng):
    return vc.VOKKnot(point_obj(rng), rng.choice(INTS[2:6] + [-2**63, 2**63 - 1]), rand_float(rng))


RESULTS = []


def keep_result(r):
    RESULTS.append(r)
    del RESULTS[:-16]


def result_obj(rng):
    if not RESULTS or rng.random() < 0.05:
        r = vc.find_formula([[0.0, 1.0, 2.0]], [rand_float(rng) for _ in range(3)],
                            max_complexity=3, beam_width=8)
        if r is not None:
            keep_result(r)
    return rng.choice(RESULTS) if RESULTS else None


def anything(rng):
    return rng.choice([pair_obj, point_obj, knot_obj, result_obj, rand_float, number,
                       lambda r: r.choice(INTS)])(rng)


def bind(rng, names, values, droppable=None):
    """Positional/keyword split of the values, sometimes with a binding mistake.

    Only the first `droppable` values may go missing (the search budgets must stay)."""
    droppable = len(values) if droppable is None else droppable
    k = rng.randrange(len(values) + 1)
    args, kwargs = list(values[:k]), dict(zip(names[k:], values[k:]))
    r = rng.random()
    if r < 0.04:
        args.append(1.0)  # may overflow the positional count
    elif r < 0.07 and names:
        kwargs[rng.choice(names)] = 1.0  # may collide with a positional one
    elif r < 0.09:
        kwargs["bogus"] = 1.0
    elif r < 0.10:
        kwargs[Weird("x")] = 1.0
    elif r < 0.13 and k < droppable:
        kwargs.pop(names[rng.randrange(k, droppable)])  # drops a required one
    elif r < 0.15 and 0 < k <= droppable:
        args.pop()
    return args, kwargs


# ---- the call table: name -> (draw(rng) returning (callable, args, kwargs, check), weight) ----

def is_(*kinds):
    def check(out, args, kwargs):
        assert type(out) in kinds, (type(out), kinds)
    return check


def tuples(width):
    def check(out, args, kwargs):
        assert type(out) is list
        for t in out:
            assert type(t) is tuple and len(t) == width and all(type(v) is float for v in t), t
    return check


def check_simulate(out, args, kwargs):
    tuples(3)(out, args, kwargs)
    n = args[2] if len(args) == 3 else kwargs.get("n_pulses")
    if type(n) is int:
        assert len(out) == n + 1


def check_result(out, args, kwargs):
    if out is None:
        return
    assert type(out) is vc.PySearchResult
    assert out.params == [] and type(out.formula) is str and type(out.error) is float
    assert type(out.complexity) is int and out.complexity >= 1
    assert repr(out).startswith("SearchResult(formula='")
    assert out.to_python().startswith("import math\nf = lambda x: ")
    assert type(out.to_latex()) is str
    keep_result(out)


def entry(fn, names, drawers, check, weight, droppable=None):
    """A table entry calling fn (a callable, or a function drawing one) with drawn values."""
    drawn = not isinstance(fn, (type, type(len)))

    def draw(rng):
        f = fn(rng) if drawn else fn
        return (f, *bind(rng, names.split(), [d(rng) for d in drawers], droppable), check)
    return draw, weight


def method(make, names):
    return lambda rng: getattr(make(rng), rng.choice(names.split()))


def attribute(make, names, weight=1):
    return (lambda rng: (getattr, [make(rng), rng.choice(names.split())], {},
                         is_(float, int, str, list, vc.VOKPoint))), weight


def draw_find_formula(rng):
    names = ["x_data", "y_data", "max_complexity", "beam_width", "precision_goal", "use_trig",
             "use_vok", "complexity_penalty"]
    # Now and then enough rows for the worker pool to take part.
    rows = rng.choice([0, 1, 2, 3, 4, 6] if rng.random() < 0.95 else [500, 3000])
    values = [columns(rng, rows), doubles(rng, rows if rng.random() < 0.8 else rng.choice([0, 2, 5])),
              count(rng, 4, huge=(2**64, 2**100)), count(rng, 50, huge=(2**63 - 1, 2**64 - 1)),
              number(rng), flag(rng), flag(rng), number(rng)]
    n = rng.choice([4, 5, 6, 7, 8, 8])
    return (vc.find_formula, *bind(rng, names[:n], values[:n], droppable=2), check_result)


OPS = ["neg", "inv", "exp", "ln", "sqrt", "sin", "cos", "abs", "add", "sub", "mul", "div", "vok",
       "square", "cube", "tanh", "asin", "acos", "atan", "bogus", ""]


def draw_enumerate(rng):
    names = ["columns", "y", "split", "max_size", "unary", "binary", "constants", "scaling",
             "front_size", "time_limit", "max_evaluations"]
    rows = rng.choice([0, 1, 2, 3, 5, 8])
    ops = [rng.choice(OPS) for _ in range(rng.randrange(4))]
    values = [columns(rng, rows), doubles(rng, rows if rng.random() < 0.8 else rng.choice([0, 2, 5])),
              flag(rng), count(rng, 4, huge=(0, 31, 2**32, 2**64)), sequence(rng, ops),
              sequence(rng, ops[::-1]), doubles(rng, rng.randrange(4)), flag(rng),
              count(rng, 3, huge=(0, 10**6)), number(rng), count(rng, 50, huge=(0,))]
    # Searches stay small: the budgets are always given.
    return (eng.enumerate, *bind(rng, names, values, droppable=2), is_(dict))


def draw_evaluate(rng):
    kinds = ["const", "var", "op", "bogus"]
    program = [(rng.choice(kinds), rng.choice([1.0, 0, 2, "add", "sin", "x"]))
               for _ in range(rng.randrange(5))]
    return (eng.evaluate, *bind(rng, ["program", "columns"],
                                [sequence(rng, program), columns(rng, rng.randrange(4))]), is_(list))


def draw_knot(rng):
    point = point_obj(rng) if rng.random() < 0.85 else anything(rng)
    values = [point, number(rng, index=True), number(rng)][: rng.choice([1, 2, 3, 3])]
    return (vc.VOKKnot, *bind(rng, ["point", "n", "theta"], values), is_(vc.VOKKnot))


def pair_owner(rng):
    return vc.VOKPair if rng.random() < 0.7 else pair_obj(rng)


def binary_operator(rng):
    a = pair_obj(rng)
    b = pair_obj(rng) if rng.random() < 0.6 else anything(rng)
    if rng.random() < 0.3:
        a, b = b, a
    return rng.choice([op.add, op.sub, op.mul, op.truediv, op.eq, op.ne, op.lt, op.ge, op.pow,
                       op.matmul, op.mod]), [a, b], {}, None


def unary(rng):
    fn = rng.choice([abs, repr, str, hash, bool, op.neg, op.pos, float, complex, copy.copy,
                     copy.deepcopy, pickle.dumps, dir, lambda o: o.__reduce_ex__(2)])
    return fn, [anything(rng)], {}, None


def mutate(rng):
    """Setting or deleting any attribute of any instance or class must fail cleanly."""
    target = rng.choice([anything(rng), vc.VOKPair, vc.VOKPoint, vc.VOKKnot, vc.PySearchResult])
    name = rng.choice(["real", "imag", "x", "y", "point", "phase", "flip_count", "formula",
                       "error", "params", "complexity", "rho", "modulus", "extra", "__dict__"])
    if rng.random() < 0.5:
        return setattr, [target, name, 1.0], {}, None
    return delattr, [target, name], {}, None


def unbound(rng):
    """A method or attribute descriptor of one class applied to an object of another."""
    cls = rng.choice([vc.VOKPair, vc.VOKPoint, vc.VOKKnot, vc.PySearchResult])
    name = rng.choice([n for n in vars(cls) if not n.startswith("__")])
    descr, other = vars(cls)[name], anything(rng)
    if hasattr(descr, "__get__") and not callable(descr):
        return descr.__get__, [other, type(other)], {}, None
    return getattr(cls, name), [other, *[number(rng) for _ in range(rng.randrange(3))]], {}, None


def construct_or_subclass(rng):
    cls = rng.choice([vc.PySearchResult, vc.VOKPair, vc.VOKPoint, vc.VOKKnot])
    if rng.random() < 0.5:
        return type, ["Sub", (cls,), {}], {}, None
    return cls.__new__, [rng.choice([cls, vc.PySearchResult, vc.VOKPair, int])], {}, None


PAIR = is_(vc.VOKPair)
TABLE = {
    "find_formula": (draw_find_formula, 6),
    "_engine.enumerate": (draw_enumerate, 4),
    "_engine.evaluate": (draw_evaluate, 2),
    "rotate_phase_n": entry(vc.rotate_phase_n, "pairs angles", [pairs, doubles], tuples(2), 4),
    "schrodinger_step_n": entry(vc.schrodinger_step_n, "psi v dt hbar",
                                [pairs, doubles, number, number], tuples(2), 4),
    "simulate_pulses_n": entry(vc.simulate_pulses_n, "x0 y0 n_pulses", [number, number, count],
                               check_simulate, 3),
    "VOKPair": entry(vc.VOKPair, "real imag", [number, number], PAIR, 2),
    "VOKPair.from_values": entry(method(pair_owner, "from_values"), "real imag", [number, number],
                                 PAIR, 1),
    "VOKPair.from_polar": entry(method(pair_owner, "from_polar"), "r theta", [number, number], PAIR, 1),
    "VOKPair.unit_i/one/zero": entry(method(pair_owner, "unit_i one zero"), "", [], PAIR, 1),
    "VOKPair.rotate_phase": entry(method(pair_obj, "rotate_phase"), "angle", [number], PAIR, 2),
    "VOKPair.conjugate": entry(method(pair_obj, "conjugate"), "", [], PAIR, 1),
    "VOKPair attributes": attribute(pair_obj, "real imag real_tension imag_tension modulus argument"),
    "VOKPair operators": (binary_operator, 4),
    "VOKPoint": entry(vc.VOKPoint, "x y", [number, number], is_(vc.VOKPoint), 2),
    "VOKPoint methods": entry(method(point_obj, "tension vok mirror_pulse pulse frame_shift is_slipping"),
                              "", [], is_(float, bool, vc.VOKPoint), 2),
    "VOKPoint.conserves_tension": entry(
        method(point_obj, "conserves_tension"), "next tol",
        [lambda r: point_obj(r) if r.random() < 0.8 else anything(r), number], is_(bool), 2),
    "VOKPoint attributes": attribute(point_obj, "x y"),
    "VOKKnot": (draw_knot, 2),
    "VOKKnot methods": entry(method(knot_obj, "mirror_pulse pulse three_one_flip flip tread_yield"),
                             "", [], is_(int, vc.VOKKnot), 2),
    "VOKKnot attributes": attribute(knot_obj, "point flip_count phase rho"),
    "PySearchResult": entry(method(result_obj, "to_latex to_python __repr__"), "", [], is_(str), 1),
    "PySearchResult attributes": attribute(result_obj, "formula error complexity params"),
    "any object, any unary protocol": (unary, 2),
    "attribute assignment": (mutate, 1),
    "descriptors on the wrong class": (unbound, 1),
    "constructors and subclassing": (construct_or_subclass, 1),
}


def accept_error(name, error):
    """True for the failures a caller may see; False marks a fault of the module."""
    if isinstance(error, SystemError):  # NULL without an error, or a result with one set
        return False
    if isinstance(error, (Exception, Hostile)):
        return True
    # PanicException reports an internal fault; the only sanctioned one is an impossible count.
    return type(error).__name__ == "PanicException" and name == "simulate_pulses_n" \
        and str(error) == "capacity overflow"


def one_call(rng, name, log):
    """Draws one call of `name`, logs it, runs it and checks the outcome.

    Returns 'ok', 'error' or 'skipped' (a hostile leaf fired while the input was built)."""
    try:
        fn, args, kwargs, check = TABLE[name][0](rng)
    except (Exception, Hostile):
        return "skipped"
    log(name, fn, args, kwargs)
    try:
        out = fn(*args, **kwargs)
    except BaseException as error:  # noqa: B036 -- judged by accept_error
        if not accept_error(name, error):
            raise AssertionError(f"{name}: unacceptable {type(error).__name__}: {error}") from error
        return "error"
    if check is not None:
        check(out, args, kwargs)
    return "ok"


def pick(rng, table=None):
    """An entry of `table` (this module's by default), drawn by the entries' weights."""
    table = TABLE if table is None else table
    names = list(table)
    return rng.choices(names, weights=[table[n][1] for n in names])[0]


def describe(name, fn, args, kwargs):
    try:
        return f"{name}: {getattr(fn, '__qualname__', fn)}(*{args!r}, **{kwargs!r})"
    except BaseException as e:  # noqa: B036 -- a repr of a hostile object failed
        return f"{name}: <unprintable arguments: {type(e).__name__}>"
