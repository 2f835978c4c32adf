"""VOKPoint and simulate_pulses_n: exact values, exact texts, binding errors."""

import inspect
import math
import struct

import pytest

from vok_math import vok_core
from vok_math.vok_core import VOKKnot, VOKPair, VOKPoint, simulate_pulses_n

NAN = math.nan
INF = math.inf
E = 2.718281828459045


def bits(v):
    return struct.pack("<d", v)


def assert_point(p, x, y):
    assert type(p) is VOKPoint
    assert (bits(p.x), bits(p.y)) == (bits(x), bits(y)), (p.x, p.y, x, y)


def debug_of(x, y):
    """The point's debug form, reachable through a knot's repr."""
    text = repr(VOKKnot(VOKPoint(x, y)))
    return text[text.index("point=") + len("point="):-1]


@pytest.mark.parametrize(
    "x, y, tension, slipping",
    [
        (0, 1, 1.0, False),
        (1, 1, E, False),
        (0, -0.0, 691.7755278982137, False),
        (710, 1, 710.0000000000002, True),
        (709.78, 1, 1.7928227943945155e308, False),
    ],
)
def test_tension_and_slipping(x, y, tension, slipping):
    p = VOKPoint(x, y)
    assert bits(p.tension()) == bits(tension)
    assert bits(p.vok()) == bits(tension)
    assert p.is_slipping() is slipping


def test_pulse_moves_clamped_y_into_x():
    p = VOKPoint(0, 1)
    for x, y in [(1.0, 1.0), (1.0, E), (E, 1.718281828459045)]:
        p = p.mirror_pulse()
        assert_point(p, x, y)
    start = VOKPoint(0.25, -3.0)
    assert_point(start.pulse(), 3.0, start.tension())
    assert start.pulse() is not start.pulse()
    assert_point(start, 0.25, -3.0)


def test_frame_shift_floors_tiny_and_nan_y():
    p = VOKPoint(0.5, NAN)
    assert math.isnan(p.mirror_pulse().x)
    assert_point(p.frame_shift(), 1e-300, math.exp(0.5) + 690.7755278982137)
    tiny = VOKPoint(0, 1e-310)
    assert (tiny.mirror_pulse().x, tiny.frame_shift().x) == (1e-310, 1e-300)


@pytest.mark.parametrize(
    "x, next_y, tol, expected",
    [
        (INF, 1, 0.0, True),
        (1, NAN, 1e300, False),
        (math.log(0.1), 3, 4.163336342344337e-17, False),  # the residue itself is not below
        (math.log(0.1), 3, 4.2e-17, True),
    ],
)
def test_conserves_tension(x, next_y, tol, expected):
    # Only self.x and next.y take part.
    assert VOKPoint(x, NAN).conserves_tension(VOKPoint(NAN, next_y), tol) is expected
    assert VOKPoint(x, 5).conserves_tension(tol=tol, next=VOKPoint(-7, next_y)) is expected


@pytest.mark.parametrize(
    "x, y, text",
    [
        (1, -2.5, "VOKPoint(x=1.000000, y=-2.500000)"),
        (-0.0, NAN, "VOKPoint(x=-0.000000, y=NaN)"),
        (INF, -INF, "VOKPoint(x=inf, y=-inf)"),
        (-1e-7, 5e-324, "VOKPoint(x=-0.000000, y=0.000000)"),
        (2.0**-7, 3 * 2.0**-7, "VOKPoint(x=0.007812, y=0.023438)"),  # exact ties go to even
        (1e16, 1.7976931348623157e308, f"VOKPoint(x=10000000000000000.000000, y={1.7976931348623157e308:.6f})"),
    ],
)
def test_repr(x, y, text):
    assert repr(VOKPoint(x, y)) == text
    assert str(VOKPoint(x, y)) == text


@pytest.mark.parametrize(
    "x, y, text",
    [
        (1, 2, "VOKPoint { x: 1.0, y: 2.0 }"),
        (-0.0, NAN, "VOKPoint { x: -0.0, y: NaN }"),
        (INF, -INF, "VOKPoint { x: inf, y: -inf }"),
        (1e-4, 9.999999999999999e-5, "VOKPoint { x: 0.0001, y: 9.999999999999999e-5 }"),
        (1e16, 9999999999999998.0, "VOKPoint { x: 1e16, y: 9999999999999998.0 }"),
        (1.5e16, -1e-5, "VOKPoint { x: 1.5e16, y: -1e-5 }"),
        (5e-324, 1e15, "VOKPoint { x: 5e-324, y: 1000000000000000.0 }"),
    ],
)
def test_debug_form(x, y, text):
    assert debug_of(x, y) == text


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: VOKPoint(), TypeError, "VOKPoint.__new__() missing 2 required positional arguments: 'x' and 'y'"),
        (lambda: VOKPoint(1), TypeError, "VOKPoint.__new__() missing 1 required positional argument: 'y'"),
        (lambda: VOKPoint(1, 2, 3), TypeError, "VOKPoint.__new__() takes 2 positional arguments but 3 were given"),
        (lambda: VOKPoint(1, x=2), TypeError, "VOKPoint.__new__() got multiple values for argument 'x'"),
        (lambda: VOKPoint(1, z=2), TypeError, "VOKPoint.__new__() got an unexpected keyword argument 'z'"),
        (lambda: VOKPoint("1", 2), TypeError, "argument 'x': must be real number, not str"),
        (lambda: VOKPoint(1, None), TypeError, "argument 'y': must be real number, not NoneType"),
        (lambda: VOKPoint(0, 1).conserves_tension(VOKPair(0, 1), 0.1), TypeError,
         "argument 'next': 'VOKPair' object cannot be converted to 'VOKPoint'"),
        (lambda: VOKPoint(0, 1).conserves_tension((0, 1), 0.1), TypeError,
         "argument 'next': 'tuple' object cannot be converted to 'VOKPoint'"),
        (lambda: VOKPoint(0, 1).conserves_tension(VOKPoint(0, 1)), TypeError,
         "VOKPoint.conserves_tension() missing 1 required positional argument: 'tol'"),
        (lambda: VOKPoint(0, 1).conserves_tension(VOKPoint(0, 1), "0"), TypeError,
         "argument 'tol': must be real number, not str"),
        (lambda: VOKPoint(0, 1).tension(1), TypeError, "VOKPoint.tension() takes no arguments (1 given)"),
        (lambda: VOKPoint(2**1024, 1), OverflowError, "int too large to convert to float"),
    ],
)
def test_binding_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    assert str(info.value) == message


def test_numbers_convert_like_float():
    class Indexed:
        def __index__(self):
            return 3

    assert_point(VOKPoint(True, Indexed()), 1.0, 3.0)
    assert_point(VOKPoint(y=-0.0, x=2**53 + 1), 9007199254740992.0, -0.0)


def test_class_surface():
    p = VOKPoint(1.0, 2.0)
    assert VOKPoint.__module__ == "vok_core"
    assert VOKPoint.__qualname__ == "VOKPoint"
    assert VOKPoint.__doc__ == "" and VOKPoint.__text_signature__ == "(x, y)"
    assert VOKPoint.conserves_tension.__text_signature__ == "($self, next, tol)"
    assert str(inspect.signature(VOKPoint)) == "(x, y)"
    assert str(inspect.signature(p.conserves_tension)) == "(next, tol)"
    assert VOKPoint.vok.__doc__ == "Alias for tension() \u2014 vok(x, y) = exp(x) - ln(y)."
    assert VOKPoint.pulse.__doc__ == "Alias for mirror_pulse()."
    assert VOKPoint.x.__doc__ == "" and VOKPoint.y.__doc__ == ""
    methods = [n for n in VOKPoint.__dict__ if not n.startswith("__")]
    assert methods[:7] == ["tension", "vok", "mirror_pulse", "pulse", "frame_shift", "is_slipping",
                           "conserves_tension"]
    with pytest.raises(TypeError):
        type("Sub", (VOKPoint,), {})
    with pytest.raises(AttributeError):
        p.x = 3.0
    with pytest.raises(AttributeError):
        p.extra = 1
    assert not hasattr(p, "__dict__")
    with pytest.raises(TypeError):
        __import__("weakref").ref(p)
    q = VOKPoint(1.0, 2.0)
    assert p != q and p == p
    assert hash(p) != hash(q)


# simulate_pulses_n

def assert_records(got, expected):
    assert [tuple(map(bits, r)) for r in got] == [tuple(map(bits, r)) for r in expected]


def test_simulate_examples():
    assert_records(simulate_pulses_n(0, 1, 0), [(0.0, 1.0, 1.0)])
    assert_records(
        simulate_pulses_n(0, 1, 3),
        [(0.0, 1.0, 1.0), (1.0, 1.0, E), (1.0, E, 1.718281828459045),
         (E, 1.718281828459045, 14.612937386866344)],
    )
    assert_records(simulate_pulses_n(n_pulses=1, y0=-1, x0=0), [(0.0, -1.0, 1.0), (1.0, 1.0, E)])
    trajectory = simulate_pulses_n(1.0, NAN, 4)
    assert all(math.isnan(x) and math.isnan(y) for x, y, _ in trajectory[1:])
    assert type(trajectory) is list and all(type(r) is tuple and len(r) == 3 for r in trajectory)


@pytest.mark.parametrize(
    "args, error, message",
    [
        ((0, 1, -1), OverflowError, "can't convert negative int to unsigned"),
        ((0, 1, 2**64), OverflowError, "int too big to convert"),
        ((0, 1, 2.5), TypeError, "argument 'n_pulses': 'float' object cannot be interpreted as an integer"),
        ((0, 1), TypeError, "simulate_pulses_n() missing 1 required positional argument: 'n_pulses'"),
        ((0, 1, 2, 3), TypeError, "simulate_pulses_n() takes 3 positional arguments but 4 were given"),
        (("0", 1, 2), TypeError, "argument 'x0': must be real number, not str"),
    ],
)
def test_simulate_binding_errors(args, error, message):
    with pytest.raises(error) as info:
        simulate_pulses_n(*args)
    assert type(info.value) is error and str(info.value) == message


@pytest.mark.parametrize("n", [2**62, 384307168202282325, 2**64 - 1])
def test_simulate_capacity_overflow_is_a_panic(n):
    with pytest.raises(BaseException) as info:
        simulate_pulses_n(0, 1, n)
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert info.value.args == ("capacity overflow",)


@pytest.mark.parametrize("n", [10**15, 384307168202282324])
def test_simulate_unsatisfiable_count_raises_memory_error(n):
    with pytest.raises(MemoryError):
        simulate_pulses_n(0, 1, n)
    assert len(simulate_pulses_n(0, 1, 5)) == 6


def test_simulate_docstring():
    assert simulate_pulses_n.__doc__ == "Simulate n_pulses of mirror_pulse, returning (x, y, tension) per step."
    assert str(inspect.signature(simulate_pulses_n)) == "(x0, y0, n_pulses)"
    assert vok_core.__all__.index("simulate_pulses_n") == 5
