"""VOKKnot: pulses, counter wrap, phase reduction, reprs and binding errors."""

import inspect
import math
import struct

import pytest

from vok_math.vok_core import VOKKnot, VOKPair, VOKPoint

NAN = math.nan
INF = math.inf
TWO_PI = 6.283185307179586
I64_MAX = 2**63 - 1
I64_MIN = -(2**63)


def bits(v):
    return struct.pack("<d", v)


def knot(x=0.0, y=1.0, n=0, theta=0.0):
    return VOKKnot(VOKPoint(x, y), n, theta)


def test_pulse_advances_point_counter_and_phase():
    k = knot()
    assert k.rho == 1.0 and k.tread_yield() == 0
    p = k.pulse()
    assert (p.point.x, p.point.y, p.flip_count) == (1.0, 1.0, 1)
    assert bits(p.phase) == bits(1.5707963267948966)
    assert repr(p) == "VOKKnot(n=1, rho=2.718282, theta=1.5708, point=VOKPoint { x: 1.0, y: 1.0 })"
    phases = []
    step = k
    for _ in range(4):
        step = step.mirror_pulse()
        phases.append(step.phase)
    assert phases == [1.5707963267948966, 3.141592653589793, 4.71238898038469, 0.0]
    for f in (k.flip(), k.three_one_flip()):
        assert bits(f.point.x) == bits(1.718281828459045)
        assert bits(f.point.y) == bits(14.612937386866344)
        assert (f.flip_count, f.tread_yield()) == (4, 2)
        assert bits(f.phase) == bits(0.0)
        assert bits(f.rho) == bits(2.8930342660331494)
        assert (f.point.x, f.point.y) == (step.point.x, step.point.y)
    # The receiver is untouched.
    assert (k.flip_count, k.phase, k.point.x, k.point.y) == (0, 0.0, 0.0, 1.0)


@pytest.mark.parametrize(
    "theta, phase",
    [
        (-1, -1.0),
        (7, 0.7168146928204138),
        (-7, -0.7168146928204138),
        (TWO_PI, 0.0),
    ],
)
def test_phase_is_reduced_keeping_sign(theta, phase):
    assert bits(knot(theta=theta).phase) == bits(phase)


@pytest.mark.parametrize("theta", [INF, -INF, NAN])
def test_non_finite_theta_stays_nan(theta):
    k = knot(theta=theta)
    assert math.isnan(k.phase)
    assert math.isnan(k.pulse().phase) and math.isnan(k.flip().phase)


def test_counter_wraps():
    assert knot(n=I64_MAX).pulse().flip_count == I64_MIN
    assert knot(n=I64_MAX - 1).flip().flip_count == I64_MIN + 2
    assert knot(n=-1).pulse().flip_count == 0


@pytest.mark.parametrize(
    "n, expected",
    [(3, 0), (-3, 0), (7, 2), (-5, -2), (I64_MAX, 4611686018427387902), (I64_MIN, -4611686018427387904)],
)
def test_tread_yield_truncates_toward_zero(n, expected):
    assert knot(n=n).tread_yield() == expected


@pytest.mark.parametrize(
    "k, text",
    [
        (knot(), "VOKKnot(n=0, rho=1.000000, theta=0.0000, point=VOKPoint { x: 0.0, y: 1.0 })"),
        (knot(-0.0, NAN, I64_MIN, -INF),
         "VOKKnot(n=-9223372036854775808, rho=NaN, theta=NaN, point=VOKPoint { x: -0.0, y: NaN })"),
        # Exact ties at four decimals go to even; x = 1e16 slips (exp(ln x), not inf).
        (knot(0.0, 1e-5, -3, 2.0**-5), "VOKKnot(n=-3, rho=12.512925, theta=0.0312, point=VOKPoint { x: 0.0, y: 1e-5 })"),
        (knot(1e16, -1e-300, 9, -3 * 2.0**-5),
         "VOKKnot(n=9, rho=10000000000000724.000000, theta=-0.0938, point=VOKPoint { x: 1e16, y: -1e-300 })"),
        (knot(-INF, 2.718281828459045, theta=-1e-5),
         "VOKKnot(n=0, rho=1.000000, theta=-0.0000, point=VOKPoint { x: -inf, y: 2.718281828459045 })"),
    ],
)
def test_repr(k, text):
    assert repr(k) == text


def test_point_is_a_fresh_copy_on_every_read():
    source = VOKPoint(3.0, -4.0)
    k = VOKKnot(source)
    a, b = k.point, k.point
    assert a is not b and a is not source
    assert type(a) is VOKPoint
    assert (a.x, a.y) == (b.x, b.y) == (3.0, -4.0)
    del source, a, b
    assert (k.point.x, k.point.y) == (3.0, -4.0)


def test_keywords_and_defaults():
    k = VOKKnot(theta=7, point=VOKPoint(1, 2))
    assert (k.flip_count, bits(k.phase)) == (0, bits(0.7168146928204138))

    class Indexed:
        def __index__(self):
            return -12

    assert VOKKnot(VOKPoint(0, 1), Indexed(), True).flip_count == -12
    assert VOKKnot(VOKPoint(0, 1), True).flip_count == 1


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: VOKKnot(), TypeError, "VOKKnot.__new__() missing 1 required positional argument: 'point'"),
        (lambda: VOKKnot(n=1), TypeError, "VOKKnot.__new__() missing 1 required positional argument: 'point'"),
        (lambda: VOKKnot(VOKPoint(0, 1), 0, 0.0, 1), TypeError,
         "VOKKnot.__new__() takes from 1 to 3 positional arguments but 4 were given"),
        (lambda: VOKKnot(VOKPoint(0, 1), point=VOKPoint(0, 1)), TypeError,
         "VOKKnot.__new__() got multiple values for argument 'point'"),
        (lambda: VOKKnot(VOKPoint(0, 1), phase=1.0), TypeError,
         "VOKKnot.__new__() got an unexpected keyword argument 'phase'"),
        (lambda: VOKKnot((0.0, 1.0)), TypeError, "argument 'point': 'tuple' object cannot be converted to 'VOKPoint'"),
        (lambda: VOKKnot(VOKPair(0.0, 1.0)), TypeError,
         "argument 'point': 'VOKPair' object cannot be converted to 'VOKPoint'"),
        (lambda: VOKKnot(None), TypeError, "argument 'point': 'NoneType' object cannot be converted to 'VOKPoint'"),
        (lambda: VOKKnot(VOKPoint(0, 1), 1.5), TypeError,
         "argument 'n': 'float' object cannot be interpreted as an integer"),
        (lambda: VOKKnot(VOKPoint(0, 1), None), TypeError,
         "argument 'n': 'NoneType' object cannot be interpreted as an integer"),
        (lambda: VOKKnot(VOKPoint(0, 1), 2**63), OverflowError, "int too big to convert"),
        (lambda: VOKKnot(VOKPoint(0, 1), theta="0"), TypeError, "argument 'theta': must be real number, not str"),
        (lambda: VOKKnot(VOKPoint(0, 1), theta=None), TypeError,
         "argument 'theta': must be real number, not NoneType"),
        (lambda: knot().flip(1), TypeError, "VOKKnot.flip() takes no arguments (1 given)"),
    ],
)
def test_binding_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    assert str(info.value) == message


def test_class_surface():
    k = knot()
    assert VOKKnot.__module__ == "vok_core"
    assert VOKKnot.__text_signature__ == "(point, n=0, theta=0.0)"
    assert str(inspect.signature(VOKKnot)) == "(point, n=0, theta=0.0)"
    assert str(inspect.signature(k.tread_yield)) == "()"
    assert VOKKnot.pulse.__doc__ == "Alias for mirror_pulse()."
    assert VOKKnot.flip.__doc__ == "Alias for three_one_flip()."
    methods = [n for n in VOKKnot.__dict__ if not n.startswith("__")]
    assert methods == ["mirror_pulse", "pulse", "three_one_flip", "flip", "tread_yield",
                       "point", "flip_count", "phase", "rho"]
    for name in ("point", "flip_count", "phase", "rho"):
        assert getattr(VOKKnot, name).__doc__ == ""
        with pytest.raises(AttributeError):
            setattr(k, name, getattr(k, name))
    with pytest.raises(TypeError):
        type("Sub", (VOKKnot,), {})
    assert not hasattr(k, "__dict__")
    with pytest.raises(TypeError):
        __import__("weakref").ref(k)
    assert k != knot() and k == k
