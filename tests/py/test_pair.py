"""VOKPair and the batch rotations: exact values, reprs, and the texts of refused input."""

import gc
import inspect
import math
import operator
import random
import struct
import sys
import tracemalloc
import weakref

import pytest

from vok_math import vok_core
from vok_math.vok_core import VOKPair, rotate_phase_n, schrodinger_step_n

NAN = float("nan")
INF = float("inf")


def bits(x):
    return struct.pack("<d", x)


def key(x):
    """Exact bits, except that every NaN counts as the same value."""
    return "nan" if math.isnan(x) else bits(x)


def assert_pair(p, real, imag):
    assert (bits(p.real), bits(p.imag)) == (bits(real), bits(imag)), repr(p)


def rotated(a, b, angle):
    # math.sin refuses infinities where the C library gives NaN.
    s, c = (NAN, NAN) if math.isinf(angle) else (math.sin(angle), math.cos(angle))
    return (a * c - b * s, b * c + a * s)


@pytest.mark.parametrize(
    "result, real, imag",
    [
        (lambda: VOKPair(1, 2) * VOKPair(3, 4), -5.0, 10.0),
        (lambda: VOKPair(1, 2) / VOKPair(3, 4), 0.44, 0.08),
        (lambda: VOKPair(1, 2) + VOKPair(3, 4), 4.0, 6.0),
        (lambda: VOKPair(1, 2) - VOKPair(3, 5), -2.0, -3.0),
        (lambda: VOKPair.from_polar(2, math.pi / 2), 1.2246467991473532e-16, 2.0),
        (lambda: VOKPair(1, 0).rotate_phase(angle=math.pi / 2), 6.123233995736766e-17, 1.0),
        (lambda: VOKPair(3, 0.0).conjugate(), 3.0, -0.0),
        (lambda: VOKPair.from_values(imag=2, real=True), 1.0, 2.0),
        (lambda: VOKPair(real=5, imag=-0.0), 5.0, -0.0),
        (lambda: VOKPair.unit_i(), 0.0, 1.0),
        (lambda: VOKPair.one(), 1.0, 0.0),
        (lambda: VOKPair.zero(), 0.0, 0.0),
        (lambda: VOKPair(7, 8).one(), 1.0, 0.0),
        (lambda: VOKPair(7, 8).from_polar(1, 0), 1.0, 0.0),
    ],
)
def test_values_are_exact(result, real, imag):
    p = result()
    assert type(p) is VOKPair
    assert_pair(p, real, imag)


def test_derived_attributes():
    assert VOKPair(-1, -0.0).argument == -math.pi
    assert VOKPair(3, 4).modulus == 5.0 == abs(VOKPair(3, 4))
    p = VOKPair(-0.0, NAN)
    assert bits(p.real_tension) == bits(p.real) == bits(-0.0)
    assert math.isnan(p.imag_tension)


@pytest.mark.parametrize(
    "real, imag, text",
    [
        (1, -2, "VOKPair(1.000000 - 2.000000i)"),
        (1, 0.5, "VOKPair(1.000000 + 0.500000i)"),
        (0, -0.0, "VOKPair(0.000000 + 0.000000i)"),
        (-0.0, 1e-7, "VOKPair(-0.000000 + 0.000000i)"),
        (1, NAN, "VOKPair(1.000000 - NaNi)"),
        (INF, -INF, "VOKPair(inf - infi)"),
        (1e20, 0.0078125, "VOKPair(100000000000000000000.000000 + 0.007812i)"),
    ],
)
def test_repr(real, imag, text):
    assert repr(VOKPair(real, imag)) == text


def test_equality_is_a_strict_absolute_tolerance():
    zero = VOKPair(0, 0)
    assert VOKPair(1e-10, 0) == zero
    assert not VOKPair(1e-10, 0) != zero
    assert not VOKPair(1e-9, 0) == zero
    assert VOKPair(1e-9, 0) != zero
    nan = VOKPair(NAN, 0)
    assert nan != nan and not nan == nan  # no identity shortcut


class EqualsEverything:
    def __eq__(self, other):
        return True


def test_equality_with_other_types_declines():
    p = VOKPair(0, 0)
    assert (p == 0) is False and (p != 0) is True
    assert (0 == p) is False and (0 != p) is True
    # != goes through the interpreter's ==, so the other side's __eq__ decides.
    assert (p != EqualsEverything()) is False
    for compare in (lambda: p < p, lambda: p <= 0, lambda: p > p, lambda: 0 >= p):
        with pytest.raises(TypeError):
            compare()


def test_unhashable():
    with pytest.raises(TypeError, match="unhashable type"):
        hash(VOKPair(1, 2))
    with pytest.raises(TypeError):
        {VOKPair(1, 2)}
    assert VOKPair.__hash__ is None


@pytest.mark.parametrize("other", [1, 1.0, 1j, (1, 2), None])
def test_arithmetic_is_between_pairs_only(other):
    p = VOKPair(1, 2)
    for op in ("__add__", "__sub__", "__mul__", "__truediv__"):
        with pytest.raises(TypeError):
            getattr(operator, op)(p, other)
        with pytest.raises(TypeError):
            getattr(operator, op)(other, p)
    for unsupported in (lambda: -p, lambda: +p, lambda: complex(p), lambda: float(p)):
        with pytest.raises(TypeError):
            unsupported()


def test_in_place_operators_rebind_to_new_objects():
    p = q = VOKPair(1, 2)
    p += VOKPair(1, 1)
    assert p is not q
    assert_pair(q, 1.0, 2.0)
    assert_pair(p, 2.0, 3.0)


def test_class_properties():
    assert VOKPair.__module__ == "vok_core"
    assert VOKPair.__qualname__ == "VOKPair"
    assert VOKPair.__doc__ == ""
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Sub", (VOKPair,), {})
    p = VOKPair(1, 2)
    for name in ("real", "imag", "real_tension", "imag_tension", "modulus", "argument"):
        with pytest.raises(AttributeError):
            setattr(p, name, 3.0)
        assert getattr(VOKPair, name).__doc__ == ""
    with pytest.raises(AttributeError):
        p.__dict__
    with pytest.raises(AttributeError):
        p.other = 1
    with pytest.raises(TypeError):
        weakref.ref(p)


@pytest.mark.parametrize(
    "obj, signature",
    [
        (VOKPair, "(real, imag)"),
        (VOKPair.from_values, "(real, imag)"),
        (VOKPair.from_polar, "(r, theta)"),
        (VOKPair.unit_i, "()"),
        (VOKPair.zero, "()"),
        (VOKPair(1, 2).rotate_phase, "(angle)"),
        (VOKPair.conjugate, "(self, /)"),
        (rotate_phase_n, "(pairs, angles)"),
        (schrodinger_step_n, "(psi, v, dt, hbar)"),
    ],
)
def test_signatures(obj, signature):
    assert str(inspect.signature(obj)) == signature


def test_function_docstrings():
    assert rotate_phase_n.__doc__ == "Batch rotate_phase for a list of VOKPairs."
    assert schrodinger_step_n.__doc__ == (
        "Batch Schrödinger potential-phase step: ψ_n → e^{-iV_n·dt/ħ}·ψ_n for all n.\n"
        "Returns list of (real, imag) tuples."
    )


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda: VOKPair(), TypeError,
         "VOKPair.__new__() missing 2 required positional arguments: 'real' and 'imag'"),
        (lambda: VOKPair(1, 2, 3), TypeError,
         "VOKPair.__new__() takes 2 positional arguments but 3 were given"),
        (lambda: VOKPair(1, real=2), TypeError,
         "VOKPair.__new__() got multiple values for argument 'real'"),
        (lambda: VOKPair(1, "2"), TypeError, "argument 'imag': must be real number, not str"),
        (lambda: VOKPair.from_polar(1), TypeError,
         "VOKPair.from_polar() missing 1 required positional argument: 'theta'"),
        (lambda: VOKPair.from_values(None, 1), TypeError,
         "argument 'real': must be real number, not NoneType"),
        (lambda: VOKPair(1, 2).rotate_phase(), TypeError,
         "VOKPair.rotate_phase() missing 1 required positional argument: 'angle'"),
        (lambda: VOKPair(1, 2).rotate_phase(theta=1), TypeError,
         "VOKPair.rotate_phase() got an unexpected keyword argument 'theta'"),
        (lambda: rotate_phase_n([(1, 2)], [0], [0]), TypeError,
         "rotate_phase_n() takes 2 positional arguments but 3 were given"),
        (lambda: rotate_phase_n([VOKPair(1, 2)], [0]), TypeError,
         "argument 'pairs': 'VOKPair' object cannot be converted to 'PyTuple'"),
        (lambda: rotate_phase_n([[1, 2]], [0]), TypeError,
         "argument 'pairs': 'list' object cannot be converted to 'PyTuple'"),
        (lambda: rotate_phase_n([(1, 2, 3)], [0]), ValueError,
         "expected tuple of length 2, but got tuple of length 3"),
        (lambda: rotate_phase_n([(1, 2)], "0"), TypeError,
         "argument 'angles': Can't extract `str` to `Vec`"),
        (lambda: rotate_phase_n(5, [0]), TypeError,
         "argument 'pairs': 'int' object cannot be converted to 'Sequence'"),
        (lambda: rotate_phase_n([(1, 2)] * 3, [0, 0, 0, 0, "x"]), TypeError,
         "argument 'angles': must be real number, not str"),
        (lambda: rotate_phase_n([(1, 2)] * 3 + [(1,)], [0]), ValueError,
         "expected tuple of length 2, but got tuple of length 1"),
        (lambda: schrodinger_step_n([(1, 0)], [1], 1), TypeError,
         "schrodinger_step_n() missing 1 required positional argument: 'hbar'"),
        (lambda: schrodinger_step_n([(1, 0)], [1], 1, hbar="1"), TypeError,
         "argument 'hbar': must be real number, not str"),
        (lambda: schrodinger_step_n([("1", 0)], "v", 1, 1), TypeError,
         "argument 'psi': must be real number, not str"),
    ],
)
def test_refused_input(call, error, text):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    assert str(info.value) == text


def test_rotate_phase_n_matches_rotate_phase_bit_for_bit():
    rng = random.Random(7)
    pairs = [(rng.uniform(-1e3, 1e3), rng.uniform(-1e3, 1e3)) for _ in range(2000)]
    pairs += [(NAN, 1.0), (INF, 0.0), (-0.0, 5e-324), (1.7976931348623157e308, -1.0)]
    angles = [rng.uniform(-50, 50) for _ in pairs[:-1]] + [INF]
    got = rotate_phase_n(pairs, angles)
    assert len(got) == len(pairs)
    for (a, b), angle, (x, y) in zip(pairs, angles, got):
        assert (key(x), key(y)) == tuple(map(key, rotated(a, b, angle)))
        p = VOKPair(a, b).rotate_phase(angle)
        assert (bits(x), bits(y)) == (bits(p.real), bits(p.imag))


def test_rotate_phase_n_shapes():
    assert rotate_phase_n([(1.0, 0.0)], [math.pi / 2]) == [(6.123233995736766e-17, 1.0)]
    out = rotate_phase_n(((1, 0), (0, 1), (2, 2)), [0, 0, 0, 0, 0])
    assert out == [(1.0, 0.0), (0.0, 1.0), (2.0, 2.0)]
    assert all(type(v) is float for t in out for v in t)
    assert rotate_phase_n(pairs=[(1, 2)] * 5, angles=[0.0] * 3) == [(1.0, 2.0)] * 3
    assert rotate_phase_n([], [1, 2]) == []
    assert rotate_phase_n([(1, 2)], []) == []


def test_schrodinger_step_n():
    assert schrodinger_step_n([(1.0, 0.0)], [1.0], 1.0, 1.0) == [
        (0.5403023058681398, -0.8414709848078965)
    ]
    psi, v, dt, hbar = [(0.25, -3.0), (1.0, 1.0), (2.0, 0.5)], [0.3, -7.0], 0.1, 0.7
    got = schrodinger_step_n(psi=psi, v=v, dt=dt, hbar=hbar)
    assert len(got) == 2
    for (a, b), vk, out in zip(psi, v, got):
        assert tuple(map(bits, out)) == tuple(map(bits, rotated(a, b, -(vk * dt) / hbar)))
    for x, y in schrodinger_step_n([(1, 0), (1, 1)], [1.0, 0.0], 1.0, 0.0):
        assert math.isnan(x) and math.isnan(y)


def test_module_registers_the_pair_names():
    assert vok_core.__all__.index("VOKPair") < vok_core.__all__.index("schrodinger_step_n")
    assert vok_core.__all__.index("schrodinger_step_n") < vok_core.__all__.index("rotate_phase_n")


def grows_every_round(call, watched, calls=200):
    """True when traced memory or a watched object's refcount grows in each of three rounds."""
    for _ in range(50):
        call()
    tracemalloc.start()
    try:
        samples = []
        for _ in range(4):
            if samples:
                for _ in range(calls):
                    call()
            gc.collect()
            counts = [sys.getrefcount(o) for o in watched]
            samples.append((tracemalloc.get_traced_memory()[0], *counts))
    finally:
        tracemalloc.stop()
    memory, *counts = zip(*samples)
    # The harness's own samples cost a few bytes per round; a leak costs some per call.
    if all(b - a > calls * 4 for a, b in zip(memory, memory[1:])):
        return True
    return any(all(b > a for a, b in zip(column, column[1:])) for column in counts)


def call_raising(fn, *args):
    try:
        fn(*args)
    except (TypeError, ValueError):
        pass


LEAK_ANGLE = 0.25
LEAK_PAIRS = [(1.5, -2.5), (0.5, LEAK_ANGLE)]
LEAK_ANGLES = [LEAK_ANGLE, 1.0, 2.0]
LEAK_BAD_ANGLES = [LEAK_ANGLE, "x"]
LEAK_BAD_PAIRS = [(1.5, -2.5), (1.0, 2.0, 3.0)]
LEAK_PAIR = VOKPair(1, 2)


@pytest.mark.parametrize(
    "call",
    [
        lambda: rotate_phase_n(LEAK_PAIRS, LEAK_ANGLES),
        lambda: schrodinger_step_n(LEAK_PAIRS, LEAK_ANGLES, LEAK_ANGLE, 2.0),
        lambda: (LEAK_PAIR * LEAK_PAIR / VOKPair.from_polar(LEAK_ANGLE, 1)).rotate_phase(LEAK_ANGLE),
        lambda: (repr(LEAK_PAIR), LEAK_PAIR != LEAK_ANGLE, LEAK_PAIR == LEAK_PAIR, abs(LEAK_PAIR)),
        lambda: call_raising(rotate_phase_n, LEAK_PAIRS, LEAK_BAD_ANGLES),
        lambda: call_raising(rotate_phase_n, LEAK_BAD_PAIRS, LEAK_ANGLES),
        lambda: call_raising(rotate_phase_n, LEAK_PAIRS, "angles"),
        lambda: call_raising(VOKPair, LEAK_ANGLE, "imag"),
        lambda: call_raising(lambda: LEAK_PAIR.rotate_phase(angle=LEAK_BAD_ANGLES)),
        lambda: call_raising(lambda: LEAK_PAIR + LEAK_ANGLE),
    ],
)
def test_no_leaks(call):
    watched = [LEAK_ANGLE, LEAK_PAIRS, LEAK_PAIRS[0], LEAK_ANGLES, LEAK_BAD_ANGLES, LEAK_PAIR, VOKPair]
    assert not grows_every_round(call, watched)


def test_leak_harness_catches_planted_leaks():
    sink = []
    assert grows_every_round(lambda: sink.append(LEAK_ANGLE), [LEAK_ANGLE])
    assert grows_every_round(lambda: sink.append(LEAK_ANGLE * 2), [])


def test_conversion_survives_a_float_that_empties_the_input():
    victim = []

    class Clearing:
        def __float__(self):
            victim.clear()
            return 2.0

    victim.extend([(Clearing(), 1.0), (3.0, 4.0), (5.0, 6.0)])
    # The list is re-read after every item: only what was converted counts.
    assert rotate_phase_n(victim, [0.0, 0.0, 0.0]) == [(2.0, 1.0)]
    victim.extend([Clearing(), 0.0, 0.0])
    (got,) = rotate_phase_n([(1, 2)] * 3, victim)
    want = VOKPair(1, 2).rotate_phase(2.0)
    assert got == (want.real, want.imag)
