"""VOKPoint and simulate_pulses_n through the module: each method reaches its maths (whose bits
the C++ tests own), reprs, each argument's refusal text, impossible trajectory lengths."""
import math
import struct

import pytest

from vok_math.vok_core import VOKPair, VOKPoint, simulate_pulses_n

NAN, INF = math.nan, math.inf
E = 2.718281828459045


def bits(v):
    return struct.pack("<d", v)


def assert_point(p, x, y):
    assert type(p) is VOKPoint
    assert (bits(p.x), bits(p.y)) == (bits(x), bits(y)), (p.x, p.y, x, y)


def test_methods_reach_their_maths_and_leave_the_receiver():
    p = VOKPoint(2, 1)
    assert bits(p.tension()) == bits(p.vok()) == bits(math.exp(2.0))
    assert p.is_slipping() is False and VOKPoint(720, 1).is_slipping() is True
    start = VOKPoint(0.25, -3.0)
    assert_point(start.mirror_pulse(), 3.0, start.tension())
    assert_point(start.pulse(), 3.0, start.tension())
    assert start.pulse() is not start.pulse()
    assert_point(start, 0.25, -3.0)
    tiny = VOKPoint(2, 1e-310)
    assert (tiny.frame_shift().x, tiny.pulse().x) == (1e-300, 1e-310)


@pytest.mark.parametrize("tol, expected", [
    (4.163336342344337e-17, False),  # the residue itself is not below
    (4.2e-17, True),
])
def test_conserves_tension_reads_self_x_and_next_y(tol, expected):
    x = math.log(0.1)
    assert VOKPoint(x, NAN).conserves_tension(VOKPoint(NAN, 3), tol) is expected
    assert VOKPoint(x, 5).conserves_tension(tol=tol, next=VOKPoint(-7, 3)) is expected


@pytest.mark.parametrize("x, y, text", [
    (1, -2.5, "VOKPoint(x=1.000000, y=-2.500000)"),
    (-0.0, NAN, "VOKPoint(x=-0.000000, y=NaN)"),
    (INF, -INF, "VOKPoint(x=inf, y=-inf)"),
    (-1e-7, 5e-324, "VOKPoint(x=-0.000000, y=0.000000)"),
    (1e16, 1.7976931348623157e308,
     f"VOKPoint(x=10000000000000000.000000, y={1.7976931348623157e308:.6f})"),
])
def test_repr(x, y, text):
    assert repr(VOKPoint(x, y)) == text
    assert str(VOKPoint(x, y)) == text


def test_numbers_convert_like_float():
    class Indexed:
        def __index__(self):
            return 3

    assert_point(VOKPoint(True, Indexed()), 1.0, 3.0)
    assert_point(VOKPoint(y=-0.0, x=2**53 + 1), 9007199254740992.0, -0.0)


def test_simulate_pulses_n():
    assert simulate_pulses_n(n_pulses=1, y0=-1, x0=0) == [(0.0, -1.0, 1.0), (1.0, 1.0, E)]
    trajectory = simulate_pulses_n(1.0, NAN, 4)
    assert type(trajectory) is list and len(trajectory) == 5
    assert all(type(r) is tuple and len(r) == 3 for r in trajectory)
    assert all(math.isnan(x) and math.isnan(y) for x, y, _ in trajectory[1:])


@pytest.mark.parametrize("call, error, message", [
    (lambda: VOKPoint("1", 2), TypeError, "argument 'x': must be real number, not str"),
    (lambda: VOKPoint(1, None), TypeError, "argument 'y': must be real number, not NoneType"),
    (lambda: VOKPoint(0, 1).conserves_tension(VOKPair(0, 1), 0.1), TypeError,
     "argument 'next': 'VOKPair' object cannot be converted to 'VOKPoint'"),
    (lambda: VOKPoint(0, 1).conserves_tension((0, 1), 0.1), TypeError,
     "argument 'next': 'tuple' object cannot be converted to 'VOKPoint'"),
    (lambda: VOKPoint(0, 1).conserves_tension(VOKPoint(0, 1), "0"), TypeError,
     "argument 'tol': must be real number, not str"),
    (lambda: simulate_pulses_n("0", 1, 2), TypeError, "argument 'x0': must be real number, not str"),
    (lambda: simulate_pulses_n(0, None, 2), TypeError,
     "argument 'y0': must be real number, not NoneType"),
    (lambda: simulate_pulses_n(0, 1, -1), OverflowError, "can't convert negative int to unsigned"),
    (lambda: simulate_pulses_n(0, 1, 2**64), OverflowError, "int too big to convert"),
    (lambda: simulate_pulses_n(0, 1, 2.5), TypeError,
     "argument 'n_pulses': 'float' object cannot be interpreted as an integer"),
])
def test_each_argument_is_named_when_refused(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    assert str(info.value) == message


@pytest.mark.parametrize("n, panics", [
    (2**62, True), (384307168202282325, True), (2**64 - 1, True),
    (10**15, False), (384307168202282324, False),
])
def test_impossible_trajectory_lengths(n, panics):
    # Past the largest count a list could hold: the internal-fault panic; below it, memory.
    with pytest.raises(BaseException) as info:
        simulate_pulses_n(0, 1, n)
    if panics:
        assert type(info.value).__name__ == "PanicException"
        assert not isinstance(info.value, Exception)
        assert info.value.args == ("capacity overflow",)
    else:
        assert type(info.value) is MemoryError
    assert len(simulate_pulses_n(0, 1, 5)) == 6
