"""The module's front door: registration, the argument binder and the converters."""
import inspect

import numpy as np
import pytest

import vok_math.vok_core as vc
from conftest import run_python

X = [[0.0, 1.0, 2.0, 3.0]]
Y = [1.0, 3.0, 5.0, 7.0]


def test_registration_order_and_all():
    assert vc.__all__ == ["VOKPoint", "VOKPair", "VOKKnot", "schrodinger_step_n", "rotate_phase_n",
                          "simulate_pulses_n", "PySearchResult", "find_formula"]
    assert vc.__doc__ == ""
    for cls in (vc.VOKPoint, vc.VOKPair, vc.VOKKnot, vc.PySearchResult):
        assert cls.__module__ == "vok_core"


def test_second_initialisation_returns_the_first_module():
    import importlib.machinery
    import importlib.util
    spec = importlib.util.find_spec("vok_math.vok_core")
    again = importlib.util.module_from_spec(spec)
    assert again is vc
    assert vc.__all__.count("find_formula") == 1


def test_sub_interpreter_is_refused():
    out = run_python(
        "import vok_math.vok_core, _xxsubinterpreters as s\n"
        "i = s.create()\n"
        "try:\n"
        "    s.run_string(i, 'import vok_math.vok_core')\n"
        "except s.RunFailedError as e:\n"
        "    print('refused', e)\n")
    assert out.returncode == 0, out.stderr
    assert "refused" in out.stdout and "ImportError" in out.stdout and "sub-interpreters" in out.stdout


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
    (lambda: vc.find_formula(X, Y, use_trig=1), TypeError,
     "argument 'use_trig': 'int' object cannot be converted to 'PyBool'"),
    (lambda: vc.find_formula(X, Y, use_vok=0), TypeError,
     "argument 'use_vok': 'int' object cannot be converted to 'PyBool'"),
    (lambda: vc.find_formula("abc", Y), TypeError, "argument 'x_data': Can't extract `str` to `Vec`"),
    (lambda: vc.find_formula(["abc"], Y), TypeError, "argument 'x_data': Can't extract `str` to `Vec`"),
    (lambda: vc.find_formula(X, "abc"), TypeError, "argument 'y_data': Can't extract `str` to `Vec`"),
    (lambda: vc.find_formula(5, Y), TypeError,
     "argument 'x_data': 'int' object cannot be converted to 'Sequence'"),
    (lambda: vc.find_formula([1.0, 2.0], [1.0, 2.0]), TypeError,
     "argument 'x_data': 'float' object cannot be converted to 'Sequence'"),
    (lambda: vc.find_formula(X, [1.0, "a"]), TypeError,
     "argument 'y_data': must be real number, not str"),
    (lambda: vc.find_formula(X, Y, max_complexity=-1), OverflowError,
     "can't convert negative int to unsigned"),
    (lambda: vc.find_formula(X, Y, beam_width=2**64), OverflowError, None),
    (lambda: vc.find_formula(X, Y, max_complexity=2.0), TypeError,
     "argument 'max_complexity': 'float' object cannot be interpreted as an integer"),
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


def test_none_for_an_optional_parameter_is_converted_and_fails():
    with pytest.raises(TypeError, match=r"^argument 'max_complexity': "):
        vc.find_formula(X, Y, max_complexity=None)


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


@pytest.mark.parametrize("flag, expected_vok", [(np.bool_(False), False), (np.bool_(True), True)])
def test_numpy_bool_is_accepted(flag, expected_vok):
    r = vc.find_formula([[1.0, 2.0, 3.0]], [1.0, 1.0, 1.0], max_complexity=3, use_vok=flag)
    assert r is not None


def test_numeric_protocols_are_accepted():
    class Idx:
        def __index__(self):
            return 3

    class Flt:
        def __float__(self):
            return 2.0

    r = vc.find_formula((np.array([0.0, 1.0, 2.0, 3.0]),), (1, 3, 5, 7.0), max_complexity=Idx(),
                        beam_width=True, precision_goal=Flt())
    assert r is not None and r.complexity <= 4


def test_reentrant_conversion_never_reads_freed_items():
    victim = [1.0, 2.0, 3.0, 4.0]

    class Clears:
        def __float__(self):
            victim.clear()
            return 1.0

    victim.insert(1, Clears())
    assert vc.find_formula([[0.0, 1.0]], victim, max_complexity=2) is not None
    assert victim == []

    grower = [0.0]

    class Grows:
        def __float__(self):
            if len(grower) < 50:
                grower.append(Grows())
            return 0.5

    grower.append(Grows())
    vc.find_formula([[0.0, 1.0]], grower, max_complexity=2)
    assert len(grower) == 50


def test_lying_sequences_are_read_by_iteration():
    class Liar(list):
        def __len__(self):
            return 10**15

    assert vc.rotate_phase_n(Liar([(1.0, 0.0)]), [0.0]) == [(1.0, 0.0)]

    class FailsMidway:
        def __len__(self):
            return 3

        def __getitem__(self, i):
            if i == 1:
                raise RuntimeError("midway")
            return 1.0

    with pytest.raises(RuntimeError, match="midway"):
        vc.find_formula(X, FailsMidway())


def test_classes_are_final_without_dict_and_read_only():
    for cls in (vc.VOKPoint, vc.VOKPair, vc.VOKKnot, vc.PySearchResult):
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        assert not hasattr(cls, "__dict__") or "__dict__" not in cls.__dict__
        assert cls.__weakrefoffset__ == 0
    with pytest.raises(AttributeError):
        vc.VOKPair(1.0, 2.0).real = 3.0
    with pytest.raises(AttributeError):
        vc.VOKPair(1.0, 2.0).anything = 1


def test_signatures_are_introspectable():
    assert str(inspect.signature(vc.find_formula)) == (
        "(x_data, y_data, max_complexity=8, beam_width=2000, precision_goal=1e-10, "
        "use_trig=True, use_vok=True, complexity_penalty=0.001)")
    assert str(inspect.signature(vc.VOKPair)) == "(real, imag)"
    assert str(inspect.signature(vc.VOKKnot)) == "(point, n=0, theta=0.0)"
    assert vc.VOKPair.__doc__ == "" or vc.VOKPair.__doc__ is None
    assert vc.PySearchResult.__doc__ == "Python-facing formula discovery result."
