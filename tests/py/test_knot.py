"""VOKKnot through the module: each method reaches its maths (whose bits the C++ tests own),
reprs, the point copy, and each argument's refusal text."""
import math
import struct

import pytest

from vok_math.vok_core import VOKKnot, VOKPair, VOKPoint

NAN, INF = math.nan, math.inf
I64_MAX, I64_MIN = 2**63 - 1, -(2**63)


def bits(v):
    return struct.pack("<d", v)


def knot(x=0.0, y=1.0, n=0, theta=0.0):
    return VOKKnot(VOKPoint(x, y), n, theta)


def test_methods_reach_their_maths_and_leave_the_receiver():
    k = knot()
    assert k.rho == 1.0 and k.tread_yield() == 0
    pulsed = "VOKKnot(n=1, rho=2.718282, theta=1.5708, point=VOKPoint { x: 1.0, y: 1.0 })"
    assert repr(k.pulse()) == repr(k.mirror_pulse()) == pulsed
    flipped = ("VOKKnot(n=4, rho=2.893034, theta=0.0000, "
               "point=VOKPoint { x: 1.718281828459045, y: 14.612937386866344 })")
    assert repr(k.flip()) == repr(k.three_one_flip()) == flipped
    f = k.flip()
    assert (f.flip_count, f.tread_yield()) == (4, 2)
    assert (bits(f.rho), bits(f.phase)) == (bits(2.8930342660331494), bits(0.0))
    assert (k.flip_count, k.phase, k.point.x, k.point.y) == (0, 0.0, 0.0, 1.0)
    assert knot(n=I64_MAX).pulse().flip_count == I64_MIN


@pytest.mark.parametrize("k, text", [
    (knot(), "VOKKnot(n=0, rho=1.000000, theta=0.0000, point=VOKPoint { x: 0.0, y: 1.0 })"),
    (knot(-0.0, NAN, I64_MIN, -INF),
     "VOKKnot(n=-9223372036854775808, rho=NaN, theta=NaN, point=VOKPoint { x: -0.0, y: NaN })"),
    # Exact ties at four decimals go to even; x = 1e16 slips (exp(ln x), not inf).
    (knot(0.0, 1e-5, -3, 2.0**-5),
     "VOKKnot(n=-3, rho=12.512925, theta=0.0312, point=VOKPoint { x: 0.0, y: 1e-5 })"),
    (knot(1e16, -1e-300, 9, -3 * 2.0**-5),
     "VOKKnot(n=9, rho=10000000000000724.000000, theta=-0.0938, point=VOKPoint { x: 1e16, y: -1e-300 })"),
    (knot(-INF, 2.718281828459045, theta=-1e-5),
     "VOKKnot(n=0, rho=1.000000, theta=-0.0000, point=VOKPoint { x: -inf, y: 2.718281828459045 })"),
    # Either side of the switch to scientific form at 1e-4.
    (knot(1e-4, 9.999999999999999e-5),
     "VOKKnot(n=0, rho=10.210440, theta=0.0000, point=VOKPoint { x: 0.0001, y: 9.999999999999999e-5 })"),
])
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
    k = VOKKnot(theta=10, point=VOKPoint(1, 2))
    assert (k.flip_count, bits(k.phase)) == (0, bits(math.fmod(10.0, 2 * math.pi)))

    class Indexed:
        def __index__(self):
            return -12

    assert VOKKnot(VOKPoint(0, 1), Indexed(), True).flip_count == -12
    assert VOKKnot(VOKPoint(0, 1), True).flip_count == 1


@pytest.mark.parametrize("call, error, message", [
    (lambda: VOKKnot((0.0, 1.0)), TypeError,
     "argument 'point': 'tuple' object cannot be converted to 'VOKPoint'"),
    (lambda: VOKKnot(VOKPair(0.0, 1.0)), TypeError,
     "argument 'point': 'VOKPair' object cannot be converted to 'VOKPoint'"),
    (lambda: VOKKnot(None), TypeError,
     "argument 'point': 'NoneType' object cannot be converted to 'VOKPoint'"),
    (lambda: VOKKnot(VOKPoint(0, 1), 1.5), TypeError,
     "argument 'n': 'float' object cannot be interpreted as an integer"),
    (lambda: VOKKnot(VOKPoint(0, 1), None), TypeError,
     "argument 'n': 'NoneType' object cannot be interpreted as an integer"),
    (lambda: VOKKnot(VOKPoint(0, 1), 2**63), OverflowError, "int too big to convert"),
    (lambda: VOKKnot(VOKPoint(0, 1), theta="0"), TypeError,
     "argument 'theta': must be real number, not str"),
])
def test_each_argument_is_named_when_refused(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    assert str(info.value) == message
