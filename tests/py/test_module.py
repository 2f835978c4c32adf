"""The module's front door: registration, the class surfaces, the argument binder and the
converters. The binder's generic messages are checked here once for all entry points."""
import importlib.util
import inspect
import weakref

import numpy as np
import pytest

import vok_math.vok_core as vc

X = [[0.0, 1.0, 2.0, 3.0]]
Y = [1.0, 3.0, 5.0, 7.0]


def test_registration_order_and_second_initialisation():
    assert vc.__all__ == ["VOKPoint", "VOKPair", "VOKKnot", "schrodinger_step_n", "rotate_phase_n",
                          "simulate_pulses_n", "PySearchResult", "find_formula"]
    assert vc.__doc__ == ""
    again = importlib.util.module_from_spec(importlib.util.find_spec("vok_math.vok_core"))
    assert again is vc
    assert vc.__all__.count("find_formula") == 1


def knot():
    return vc.VOKKnot(vc.VOKPoint(0.0, 1.0))


# Each class, a maker of instances, its members in definition order and, of those, the
# read-only attributes.
CLASSES = [
    (vc.VOKPoint, lambda: vc.VOKPoint(1.0, 2.0),
     "tension vok mirror_pulse pulse frame_shift is_slipping conserves_tension", "x y"),
    (vc.VOKPair, lambda: vc.VOKPair(1.0, 2.0),
     "from_values from_polar unit_i one zero rotate_phase conjugate",
     "real imag real_tension imag_tension modulus argument"),
    (vc.VOKKnot, knot, "mirror_pulse pulse three_one_flip flip tread_yield",
     "point flip_count phase rho"),
    (vc.PySearchResult, lambda: vc.find_formula(X, Y, max_complexity=3), "to_latex to_python",
     "formula error complexity params"),
]


@pytest.mark.parametrize("cls, make, methods, attributes", CLASSES)
def test_classes_are_final_slotted_and_read_only(cls, make, methods, attributes):
    assert (cls.__module__, cls.__qualname__) == ("vok_core", cls.__name__)
    assert [n for n in vars(cls) if not n.startswith("__")] == (methods + " " + attributes).split()
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Sub", (cls,), {})
    obj = make()
    for name in attributes.split():
        assert vars(cls)[name].__doc__ == ""
        with pytest.raises(AttributeError):
            setattr(obj, name, getattr(obj, name))
    with pytest.raises(AttributeError):
        obj.extra = 1
    assert not hasattr(obj, "__dict__") and cls.__weakrefoffset__ == 0
    with pytest.raises(TypeError):
        weakref.ref(obj)
    if cls is not vc.VOKPair:  # pairs compare by value and are unhashable (test_pair)
        other = make()
        assert obj == obj and obj != other and hash(obj) != hash(other)


@pytest.mark.parametrize("obj, signature", [
    (vc.find_formula, "(x_data, y_data, max_complexity=8, beam_width=2000, precision_goal=1e-10, "
                      "use_trig=True, use_vok=True, complexity_penalty=0.001)"),
    (vc.rotate_phase_n, "(pairs, angles)"),
    (vc.schrodinger_step_n, "(psi, v, dt, hbar)"),
    (vc.simulate_pulses_n, "(x0, y0, n_pulses)"),
    (vc.VOKPair, "(real, imag)"),
    (vc.VOKPair.from_values, "(real, imag)"),
    (vc.VOKPair.from_polar, "(r, theta)"),
    (vc.VOKPair.unit_i, "()"),
    (vc.VOKPair(1, 2).rotate_phase, "(angle)"),
    (vc.VOKPair.conjugate, "(self, /)"),
    (vc.VOKPoint, "(x, y)"),
    (vc.VOKPoint.conserves_tension, "(self, /, next, tol)"),
    (vc.VOKKnot, "(point, n=0, theta=0.0)"),
    (knot().tread_yield, "()"),
])
def test_signatures(obj, signature):
    assert str(inspect.signature(obj)) == signature


@pytest.mark.parametrize("obj, doc", [
    (vc.VOKPoint, ""), (vc.VOKPair, ""), (vc.VOKKnot, ""),
    (vc.PySearchResult, "Python-facing formula discovery result."),
    (vc.VOKPoint.vok, "Alias for tension() \u2014 vok(x, y) = exp(x) - ln(y)."),
    (vc.VOKPoint.pulse, "Alias for mirror_pulse()."),
    (vc.VOKKnot.pulse, "Alias for mirror_pulse()."),
    (vc.VOKKnot.flip, "Alias for three_one_flip()."),
    (vc.rotate_phase_n, "Batch rotate_phase for a list of VOKPairs."),
    (vc.schrodinger_step_n, "Batch Schrödinger potential-phase step: ψ_n → e^{-iV_n·dt/ħ}·ψ_n for all n.\n"
                            "Returns list of (real, imag) tuples."),
    (vc.simulate_pulses_n, "Simulate n_pulses of mirror_pulse, returning (x, y, tension) per step."),
    (vc.find_formula, "Find a formula fitting x_data → y_data.\nx_data: list of column vectors (one per "
                      "variable), or a single 1D list for univariate.\ny_data: target values (1D list)."),
])
def test_docstrings(obj, doc):
    assert obj.__doc__ == doc


class FailsMidway:
    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i == 1:
            raise RuntimeError("midway")
        return 1.0


@pytest.mark.parametrize("call, exc, text", [
    (lambda: vc.find_formula(), TypeError,
     "find_formula() missing 2 required positional arguments: 'x_data' and 'y_data'"),
    (lambda: vc.find_formula(X, Y, 8, 2, 1e-10, True, True, 0.0, 9), TypeError,
     "find_formula() takes from 2 to 8 positional arguments but 9 were given"),
    (lambda: vc.rotate_phase_n([], [], []), TypeError,
     "rotate_phase_n() takes 2 positional arguments but 3 were given"),
    (lambda: vc.find_formula(X, Y, beam=5), TypeError,
     "find_formula() got an unexpected keyword argument 'beam'"),
    (lambda: vc.find_formula(X, Y, x_data=X), TypeError,
     "find_formula() got multiple values for argument 'x_data'"),
    (lambda: vc.VOKPair(), TypeError,
     "VOKPair.__new__() missing 2 required positional arguments: 'real' and 'imag'"),
    (lambda: vc.VOKPair(1.0), TypeError,
     "VOKPair.__new__() missing 1 required positional argument: 'imag'"),
    (lambda: vc.schrodinger_step_n(), TypeError,
     "schrodinger_step_n() missing 4 required positional arguments: 'psi', 'v', 'dt', and 'hbar'"),
    (lambda: vc.VOKKnot(vc.VOKPoint(0.0, 1.0), 1, 2.0, 3), TypeError,
     "VOKKnot.__new__() takes from 1 to 3 positional arguments but 4 were given"),
    (lambda: vc.VOKPair(1.0, 2.0).rotate_phase(1.0, 2.0), TypeError,
     "VOKPair.rotate_phase() takes 1 positional arguments but 2 were given"),
    (lambda: vc.VOKPoint(0, 1).tension(1), TypeError, "VOKPoint.tension() takes no arguments (1 given)"),
    (lambda: vc.PySearchResult(), TypeError, "No constructor defined for PySearchResult"),
    (lambda: vc.find_formula(X, Y, use_trig=1), TypeError,
     "argument 'use_trig': 'int' object cannot be converted to 'PyBool'"),
    (lambda: vc.find_formula("abc", Y), TypeError, "argument 'x_data': Can't extract `str` to `Vec`"),
    (lambda: vc.find_formula(["abc"], Y), TypeError, "argument 'x_data': Can't extract `str` to `Vec`"),
    (lambda: vc.find_formula(5, Y), TypeError,
     "argument 'x_data': 'int' object cannot be converted to 'Sequence'"),
    (lambda: vc.find_formula([1.0, 2.0], [1.0, 2.0]), TypeError,
     "argument 'x_data': 'float' object cannot be converted to 'Sequence'"),
    (lambda: vc.find_formula(X, [1.0, "a"]), TypeError,
     "argument 'y_data': must be real number, not str"),
    (lambda: vc.find_formula(X, FailsMidway()), RuntimeError, "midway"),
    (lambda: vc.VOKPoint(2**1024, 1), OverflowError, "int too large to convert to float"),
    (lambda: vc.find_formula(X, Y, max_complexity=-1), OverflowError,
     "can't convert negative int to unsigned"),
    (lambda: vc.find_formula(X, Y, beam_width=2**64), OverflowError, None),
    (lambda: vc.find_formula(X, Y, max_complexity=2.0), TypeError,
     "argument 'max_complexity': 'float' object cannot be interpreted as an integer"),
    (lambda: vc.find_formula(X, Y, max_complexity=None), TypeError,
     "argument 'max_complexity': 'NoneType' object cannot be interpreted as an integer"),
    (lambda: vc.find_formula(X, Y, precision_goal=None), TypeError,
     "argument 'precision_goal': must be real number, not NoneType"),
    (lambda: vc.find_formula([], Y), ValueError, "x_data must hold at least one column"),
    (lambda: vc.find_formula([[1.0, 2.0], [1.0]], Y), ValueError,
     "x_data column 1 has 1 values, fewer than the 2 of the first column"),
])
def test_binding_and_conversion_errors(call, exc, text):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    if text is not None:
        assert str(info.value) == text


def test_wrapped_type_error_carries_the_cause():
    class Bad:
        def __float__(self):
            try:
                raise ValueError("root")
            except ValueError as e:
                raise TypeError("inner") from e

    with pytest.raises(TypeError) as info:
        vc.find_formula(X, [Bad()])
    assert str(info.value) == "argument 'y_data': inner"
    assert isinstance(info.value.__cause__, ValueError)


def test_other_errors_from_dunders_pass_unwrapped():
    class Raises:
        def __float__(self):
            raise ZeroDivisionError("nope")

    with pytest.raises(ZeroDivisionError, match="^nope$"):
        vc.VOKPair(Raises(), 1.0)


def test_numeric_protocols_are_accepted():
    class Idx:
        def __index__(self):
            return 3

    class Flt:
        def __float__(self):
            return 2.0

    r = vc.find_formula((np.array([0.0, 1.0, 2.0, 3.0]),), (1, 3, 5, 7.0), max_complexity=Idx(),
                        beam_width=True, precision_goal=Flt(), use_vok=np.bool_(False))
    assert r is not None and r.complexity <= 4
    assert vc.find_formula(X, Y, max_complexity=3, use_vok=np.bool_(True)) is not None
