"""VOKPair and the batch rotations through the module: each callable reaches its maths (whose
bits the C++ tests own), reprs, the operator protocol, and each argument's refusal text."""
import math
import operator
import struct

import pytest

from vok_math.vok_core import VOKPair, rotate_phase_n, schrodinger_step_n

NAN, INF = math.nan, math.inf


def bits(x):
    return struct.pack("<d", x)


def assert_pair(p, real, imag):
    assert type(p) is VOKPair
    assert (bits(p.real), bits(p.imag)) == (bits(real), bits(imag)), repr(p)


@pytest.mark.parametrize("result, real, imag", [
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
])
def test_each_callable_reaches_its_maths(result, real, imag):
    assert_pair(result(), real, imag)


def test_derived_attributes():
    assert VOKPair(-1, -0.0).argument == -math.pi
    assert VOKPair(3, 4).modulus == 5.0 == abs(VOKPair(3, 4))
    p = VOKPair(-0.0, NAN)
    assert bits(p.real_tension) == bits(p.real) == bits(-0.0)
    assert math.isnan(p.imag_tension)


@pytest.mark.parametrize("real, imag, text", [
    (1, -2, "VOKPair(1.000000 - 2.000000i)"),
    (1, 0.5, "VOKPair(1.000000 + 0.500000i)"),
    (0, -0.0, "VOKPair(0.000000 + 0.000000i)"),
    (-0.0, 1e-7, "VOKPair(-0.000000 + 0.000000i)"),
    (2.5e-7, -2.5e-7, "VOKPair(0.000000 - 0.000000i)"),
    (1, NAN, "VOKPair(1.000000 - NaNi)"),
    (NAN, -INF, "VOKPair(NaN - infi)"),
    (-INF, INF, "VOKPair(-inf + infi)"),
])
def test_repr(real, imag, text):
    assert repr(VOKPair(real, imag)) == text


class EqualsEverything:
    def __eq__(self, other):
        return True


def test_equality_is_a_strict_absolute_tolerance_between_pairs_only():
    zero = VOKPair(0, 0)
    assert VOKPair(1e-10, 0) == zero and not VOKPair(1e-10, 0) != zero
    assert VOKPair(1e-9, 0) != zero and not VOKPair(1e-9, 0) == zero
    assert VOKPair(0, 1e-9) != zero and VOKPair(INF, 0) != VOKPair(INF, 0)  # inf - inf is NaN
    nan = VOKPair(NAN, 0)
    assert nan != nan and not nan == nan  # no identity shortcut
    assert (zero == 0) is False and (zero != 0) is True
    assert (0 == zero) is False and (0 != zero) is True
    # != goes through the interpreter's ==, so the other side's __eq__ decides.
    assert (zero != EqualsEverything()) is False


@pytest.mark.parametrize("call", [
    lambda p: p < p, lambda p: p <= 0, lambda p: p > p, lambda p: 0 >= p,
    hash, lambda p: {p}, operator.neg, operator.pos, complex, float,
])
def test_unsupported_protocols_raise_type_error(call):
    with pytest.raises(TypeError):
        call(VOKPair(1, 2))
    assert VOKPair.__hash__ is None


@pytest.mark.parametrize("other", [1, 1.0, 1j, (1, 2), None])
@pytest.mark.parametrize("op", [operator.add, operator.sub, operator.mul, operator.truediv])
def test_arithmetic_is_between_pairs_only(op, other):
    with pytest.raises(TypeError):
        op(VOKPair(1, 2), other)
    with pytest.raises(TypeError):
        op(other, VOKPair(1, 2))


def test_in_place_operators_rebind_to_new_objects():
    p = q = VOKPair(1, 2)
    p += VOKPair(1, 1)
    assert p is not q
    assert_pair(q, 1.0, 2.0)
    assert_pair(p, 2.0, 3.0)


def test_batch_functions_use_the_shorter_length_and_their_arguments_in_order():
    (got,) = rotate_phase_n([(0.25, -3.0)], [0.3])
    want = VOKPair(0.25, -3.0).rotate_phase(0.3)
    assert tuple(map(bits, got)) == (bits(want.real), bits(want.imag))
    out = rotate_phase_n(((1, 0), (0, 1), (2, 2)), [0, 0, 0, 0, 0])
    assert out == [(1.0, 0.0), (0.0, 1.0), (2.0, 2.0)]
    assert all(type(v) is float for t in out for v in t)
    assert rotate_phase_n(pairs=[(1, 2)] * 5, angles=[0.0] * 3) == [(1.0, 2.0)] * 3
    assert rotate_phase_n([], [1, 2]) == [] == rotate_phase_n([(1, 2)], [])
    (got,) = schrodinger_step_n(psi=[(0.25, -3.0), (1.0, 1.0)], v=[0.3], dt=0.1, hbar=0.7)
    want = VOKPair(0.25, -3.0).rotate_phase(-(0.3 * 0.1) / 0.7)
    assert tuple(map(bits, got)) == (bits(want.real), bits(want.imag))


@pytest.mark.parametrize("call, error, text", [
    (lambda: VOKPair(1, "2"), TypeError, "argument 'imag': must be real number, not str"),
    (lambda: VOKPair.from_values(None, 1), TypeError,
     "argument 'real': must be real number, not NoneType"),
    (lambda: VOKPair.from_polar("1", 0), TypeError, "argument 'r': must be real number, not str"),
    (lambda: VOKPair.from_polar(1, None), TypeError,
     "argument 'theta': must be real number, not NoneType"),
    (lambda: VOKPair(1, 2).rotate_phase(None), TypeError,
     "argument 'angle': must be real number, not NoneType"),
    (lambda: rotate_phase_n([VOKPair(1, 2)], [0]), TypeError,
     "argument 'pairs': 'VOKPair' object cannot be converted to 'PyTuple'"),
    (lambda: rotate_phase_n([[1, 2]], [0]), TypeError,
     "argument 'pairs': 'list' object cannot be converted to 'PyTuple'"),
    # Both lists are converted in full before the shorter length is taken.
    (lambda: rotate_phase_n([(1, 2)] * 3 + [(1, 2, 3)], [0]), ValueError,
     "expected tuple of length 2, but got tuple of length 3"),
    (lambda: rotate_phase_n([(1, 2)] * 3, [0, 0, 0, 0, "x"]), TypeError,
     "argument 'angles': must be real number, not str"),
    (lambda: schrodinger_step_n([("1", 0)], "v", 1, 1), TypeError,
     "argument 'psi': must be real number, not str"),
    (lambda: schrodinger_step_n([(1, 0)], "v", 1, 1), TypeError,
     "argument 'v': Can't extract `str` to `Vec`"),
    (lambda: schrodinger_step_n([(1, 0)], [1], None, 1), TypeError,
     "argument 'dt': must be real number, not NoneType"),
    (lambda: schrodinger_step_n([(1, 0)], [1], 1, hbar="1"), TypeError,
     "argument 'hbar': must be real number, not str"),
])
def test_each_argument_is_named_when_refused(call, error, text):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    assert str(info.value) == text
