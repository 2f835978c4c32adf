"""Leak loops over every entry point, on its success path and on each of its error paths.

A call leaks when one of the counters grows in every round: the reference counts of the
argument objects and of the types, the bytes traced by tracemalloc, the bytes malloc has
handed out (native buffers, which tracemalloc does not see), and the interpreter's total
reference count where the build has one.
"""
import ctypes
import gc
import importlib.util
import signal
import sys
import tracemalloc

import pytest

import vok_math.vok_core as vc
from conftest import SANITIZED
from vok_math import _engine as eng

pytestmark = pytest.mark.skipif(SANITIZED, reason="counters are noisy and slow under ASan")

ROUNDS, CALLS, WARMUP = 3, 200, 50


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


_libc = ctypes.CDLL(None)
_libc.mallinfo2.restype = _Mallinfo2


def malloc_bytes():
    info = _libc.mallinfo2()
    return info.uordblks + info.hblkhd


def sample(watched):
    gc.collect()
    counts = [sys.getrefcount(o) for o in watched]
    total = [sys.gettotalrefcount()] if hasattr(sys, "gettotalrefcount") else []
    return [tracemalloc.get_traced_memory()[0], malloc_bytes(), *total, *counts]


def growing_counters(call, watched):
    """Names of the counters that grew in every round; empty when nothing leaks."""
    for _ in range(WARMUP):
        call()
    tracemalloc.start()
    try:
        samples = [sample(watched)]
        for _ in range(ROUNDS):
            for _ in range(CALLS):
                call()
            samples.append(sample(watched))
    finally:
        tracemalloc.stop()
    names = ["traced bytes", "malloc bytes"] + (["total refs"] if hasattr(sys, "gettotalrefcount")
                                                else []) + [f"refs of {o!r:.40}" for o in watched]
    # Bytes drift by a few per call (the samples themselves, interpreter caches, malloc's
    # per-thread caches); a leaked object or block costs at least 24 bytes on every call.
    slack = [CALLS * 16, CALLS * 20] + [0] * (len(names) - 2)
    grown = []
    for k, name in enumerate(names):
        column = [s[k] for s in samples]
        if all(b - a > slack[k] for a, b in zip(column, column[1:])):
            grown.append(f"{name}: {column}")
    return grown


def raising(fn, *args, **kwargs):
    def call():
        try:
            fn(*args, **kwargs)
        except (Exception, PANIC):
            return
        raise AssertionError("expected an error")
    return call


class _Stop(Exception):
    pass


try:
    vc.simulate_pulses_n(0.0, 1.0, 2**62)
except BaseException as e:  # noqa: B036 -- PanicException derives from BaseException
    PANIC = type(e)


# Argument objects live at module level so their reference counts can be watched.
X, Y = [[0.0, 1.0, 2.0, 3.0]], [1.0, 3.0, 5.0, 7.5]
RAGGED = [[0.0, 1.0, 2.0], [1.0]]
FLAT = [1.0, 2.0]
TEXT = "abc"
BAD_ITEM = object()
X_BAD = [[0.0, BAD_ITEM]]
Y_BAD = [1.0, BAD_ITEM]
NEG = -1
TOO_BIG = 2**64
PAIRS = [(1.0, 2.0), (3.0, -4.0)]
PAIRS_BAD = [(1.0, 2.0), (1.0,)]
ANGLES = [0.5, 1.5]
POINT = vc.VOKPoint(0.0, 1.0)
KNOT = vc.VOKKnot(POINT, 3, 1.0)
PAIR = vc.VOKPair(1.0, -2.0)
RESULT = vc.find_formula(X, Y, max_complexity=3, beam_width=10)
SPEC = importlib.util.find_spec("vok_math.vok_core")


class Raises:
    """__float__ and __index__ raise a TypeError carrying a __cause__."""

    def __float__(self):
        raise TypeError("inner") from KeyError("cause")

    __index__ = __float__


RAISES = Raises()
PROGRAM = (("var", 0), ("const", 2.0), ("op", "mul"), ("op", "sin"))


def small_search(x=X, y=Y, **kw):
    kw.setdefault("max_complexity", 3)
    kw.setdefault("beam_width", 10)
    return vc.find_formula(x, y, **kw)


class Entered:
    """The last argument converted: once it is read, the search itself is running."""
    inside = False

    def __float__(self):
        Entered.inside = True
        return 0.001


XS = [0.01 * i for i in range(40)]
YS = [x ** 1.7 for x in XS]
ENTERED = Entered()


def interrupted_search():
    # An alarm 0.2 ms into a search that takes tens of milliseconds: its handler's
    # exception cancels the search at the next poll. True when it did.
    Entered.inside = False
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.0002)
        try:
            vc.find_formula([XS], YS, 8, 2000, 1e-10, True, True, ENTERED)
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
    except _Stop as stop:
        return stop.args == (True,)
    return False


CASES = {
    # find_formula and its result
    "find_formula": lambda: small_search(use_trig=False, use_vok=True, precision_goal=0.0,
                                         complexity_penalty=0.01),
    "find_formula NaN result": lambda: small_search(y=[]),
    "find_formula interrupted": interrupted_search,
    "x_data str": raising(small_search, x=TEXT),
    "x_data not a sequence": raising(small_search, x=NEG),
    "x_data flat": raising(small_search, x=FLAT),
    "x_data bad item": raising(small_search, x=X_BAD),
    "x_data dunder with cause": raising(small_search, x=[[0.0, RAISES]]),
    "x_data empty": raising(small_search, x=[]),
    "x_data ragged": raising(small_search, x=RAGGED),
    "y_data bad item": raising(small_search, y=Y_BAD),
    "max_complexity negative": raising(small_search, max_complexity=NEG),
    "beam_width too big": raising(small_search, beam_width=TOO_BIG),
    "beam_width None": raising(small_search, beam_width=None),
    "use_trig int": raising(small_search, use_trig=1),
    "precision_goal dunder": raising(small_search, precision_goal=RAISES),
    # The binder's errors come before any conversion: one callable loops them.
    "find_formula missing": raising(vc.find_formula, X),
    "find_formula too many": raising(vc.find_formula, X, Y, 1, 1, 1.0, True, True, 0.0, 9),
    "find_formula unknown keyword": raising(vc.find_formula, X, Y, beam=5),
    "find_formula twice": raising(vc.find_formula, X, Y, x_data=X),
    "result attributes": lambda: (RESULT.formula, RESULT.error, RESULT.complexity, RESULT.params,
                                  repr(RESULT), RESULT.to_latex(), RESULT.to_python()),
    "result constructor": raising(vc.PySearchResult),
    "result set attribute": raising(setattr, RESULT, "formula", TEXT),
    # the enumeration entry
    "enumerate": lambda: eng.enumerate(X, Y[:4], max_size=3, front_size=2),
    "enumerate split": lambda: eng.enumerate(X, Y[:4], max_size=3, split=True),
    "enumerate unknown operator": raising(eng.enumerate, X, Y, unary=["sin", TEXT]),
    "enumerate operators str": raising(eng.enumerate, X, Y, unary=TEXT),
    "enumerate bad y": raising(eng.enumerate, X, Y_BAD),
    "enumerate short y": raising(eng.enumerate, X, FLAT),
    "enumerate progress raises": raising(eng.enumerate, [XS], YS, max_size=5,
                                         progress=lambda info: 1 / 0),
    "evaluate": lambda: eng.evaluate(PROGRAM, X),
    "evaluate malformed": raising(eng.evaluate, PROGRAM[:2], X),
    "evaluate bad token": raising(eng.evaluate, [("var", TEXT)], X),
    # batch pair functions
    "rotate_phase_n": lambda: vc.rotate_phase_n(PAIRS, ANGLES),
    "rotate_phase_n bad angle": raising(vc.rotate_phase_n, PAIRS, Y_BAD),
    "rotate_phase_n angles str": raising(vc.rotate_phase_n, PAIRS, TEXT),
    "rotate_phase_n short tuple": raising(vc.rotate_phase_n, PAIRS_BAD, ANGLES),
    "rotate_phase_n dunder": raising(vc.rotate_phase_n, [(RAISES, 1.0)], ANGLES),
    "rotate_phase_n not a tuple": raising(vc.rotate_phase_n, [FLAT], ANGLES),
    "schrodinger_step_n": lambda: vc.schrodinger_step_n(PAIRS, ANGLES, 0.5, 2.0),
    "schrodinger bad psi": raising(vc.schrodinger_step_n, PAIRS_BAD, ANGLES, 0.5, 2.0),
    "schrodinger bad v": raising(vc.schrodinger_step_n, PAIRS, Y_BAD, 0.5, 2.0),
    "schrodinger bad hbar": raising(vc.schrodinger_step_n, PAIRS, ANGLES, 0.5, RAISES),
    # pulse simulation
    "simulate_pulses_n": lambda: vc.simulate_pulses_n(0.0, 1.0, 20),
    "simulate capacity overflow": raising(vc.simulate_pulses_n, 0.0, 1.0, 2**62),
    "simulate out of memory": raising(vc.simulate_pulses_n, 0.0, 1.0, 10**15),
    "simulate negative count": raising(vc.simulate_pulses_n, 0.0, 1.0, NEG),
    "simulate bad x0": raising(vc.simulate_pulses_n, TEXT, 1.0, 3),
    # VOKPoint
    "VOKPoint": lambda: (vc.VOKPoint(x=1.0, y=2.0), repr(POINT), POINT.x, POINT.y),
    "VOKPoint methods": lambda: (POINT.tension(), POINT.vok(), POINT.mirror_pulse(), POINT.pulse(),
                                 POINT.frame_shift(), POINT.is_slipping(),
                                 POINT.conserves_tension(POINT, 1e-9)),
    "VOKPoint bad y": raising(vc.VOKPoint, 1.0, TEXT),
    "conserves_tension bad next": raising(POINT.conserves_tension, PAIR, 1.0),
    "conserves_tension bad tol": raising(POINT.conserves_tension, POINT, RAISES),
    "VOKPoint extra argument": raising(POINT.tension, 1.0),
    # VOKKnot
    "VOKKnot": lambda: (vc.VOKKnot(POINT, n=2, theta=7.0), repr(KNOT), KNOT.point, KNOT.flip_count,
                        KNOT.phase, KNOT.rho),
    "VOKKnot methods": lambda: (KNOT.mirror_pulse(), KNOT.pulse(), KNOT.three_one_flip(),
                                KNOT.flip(), KNOT.tread_yield()),
    "VOKKnot bad point": raising(vc.VOKKnot, PAIR),
    "VOKKnot n too big": raising(vc.VOKKnot, POINT, TOO_BIG),
    "VOKKnot bad theta": raising(vc.VOKKnot, POINT, 1, RAISES),
    # VOKPair
    "VOKPair": lambda: (vc.VOKPair(1.0, imag=2.0), repr(PAIR), PAIR == PAIR, PAIR != ANGLES, abs(PAIR)),
    "VOKPair arithmetic": lambda: (PAIR * PAIR / PAIR + PAIR - PAIR).rotate_phase(angle=0.5),
    "VOKPair statics": lambda: (vc.VOKPair.from_values(1.0, 2.0), PAIR.from_polar(r=2.0, theta=1.0),
                                vc.VOKPair.unit_i(), vc.VOKPair.one(), vc.VOKPair.zero(),
                                PAIR.conjugate(), PAIR.modulus, PAIR.argument, PAIR.real_tension,
                                PAIR.imag_tension),
    "VOKPair bad imag": raising(vc.VOKPair, 1.0, TEXT),
    "VOKPair from_values dunder": raising(vc.VOKPair.from_values, 1.0, imag=RAISES),
    "VOKPair rotate_phase bad angle": raising(PAIR.rotate_phase, angle=ANGLES),
    "VOKPair plus a float": raising(lambda: PAIR + 1.0),
    "VOKPair hash": raising(hash, PAIR),
    "VOKPair ordering": raising(lambda: PAIR < PAIR),
    # module initialisation run again in the same interpreter
    "module init again": lambda: importlib.util.module_from_spec(SPEC),
}

WATCHED = [X, Y, X[0], RAGGED, FLAT, TEXT, BAD_ITEM, X_BAD, Y_BAD, NEG, TOO_BIG, PAIRS, PAIRS_BAD,
           ANGLES, POINT, KNOT, PAIR, RESULT, RAISES, XS, YS, ENTERED, vc, vc.VOKPair, vc.VOKPoint, vc.VOKKnot,
           vc.PySearchResult, Raises, PANIC]


@pytest.fixture(scope="module", autouse=True)
def alarm_raises():
    def handler(*_):
        raise _Stop(Entered.inside)
    old = signal.signal(signal.SIGALRM, handler)
    yield
    signal.signal(signal.SIGALRM, old)


@pytest.mark.parametrize("name", list(CASES))
def test_no_counter_grows_every_round(name):
    assert growing_counters(CASES[name], WATCHED) == []


def test_the_alarm_cancels_searches(alarm_raises):
    assert sum(interrupted_search() for _ in range(20)) >= 15


@pytest.mark.parametrize("leak, counter", [
    (lambda: ctypes.pythonapi.Py_IncRef(ctypes.py_object(POINT)), "refs of VOKPoint"),
    (lambda sink=[]: sink.append(vc.VOKPair(1.0, 2.0)), "traced bytes"),
    (lambda: _libc.malloc(24), "malloc bytes"),
])
def test_the_harness_finds_planted_leaks(leak, counter):
    def call():
        vc.VOKPoint(1.0, 2.0)
        leak()
    grown = growing_counters(call, WATCHED)
    assert any(g.startswith(counter) for g in grown), grown
