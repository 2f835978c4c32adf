"""The benchmarks' symbolic-solution test (bench/symbolic_check.py): a wrong verdict there would
silently move every benchmark figure."""
import sys
from pathlib import Path

import pytest

sympy = pytest.importorskip("sympy")
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
from symbolic_check import SymbolicChecker, symbolic_solution  # noqa: E402

X = [("x", -1.0, 1.0)]
MV = [("m", 1.0, 5.0), ("v", 1.0, 5.0)]


def model(text, ranges):
    return sympy.sympify(text, locals={n: sympy.Symbol(n) for n, _, _ in ranges})


@pytest.mark.parametrize("text, truth, ranges, why", [
    ("0.5*m*v**2", "m*v**2/2", MV, "difference"),
    ("0.50004*m*v**2 + 0.0003", "m*v**2/2", MV, "difference"),   # rounds to the truth
    ("m*v**2 + 3.1", "m*v**2/2", MV, "not constant"),            # neither difference nor ratio
    ("m*v**2 + 0.01", "m*v**2", MV, "difference"),
    ("0.3989*sqrt(exp(-theta*theta))", "exp(-theta**2/2)/sqrt(2*pi)", [("theta", 1, 3)],
     "ratio"),
    ("x + x**3/3", "atan(x)", X, "not constant"),
    ("2e-16*x", "x*2e-16", X, "not constant"),                   # rounds to 0: no solution
    ("0*x", "x", X, "not constant"),
    ("sqrt(x**2)", "x", [("x", 1.0, 2.0)], "difference"),        # positive on its range
])
def test_verdicts(text, truth, ranges, why):
    v = symbolic_solution(model(text, ranges), truth, ranges)
    assert (v.ok, v.why) == (why in ("difference", "ratio"), why)


def test_names_of_sympy_constants_stay_variables():
    ranges = [("E", 1.0, 2.0), ("I", 1.0, 2.0), ("gamma", 2.0, 5.0)]
    e, i, g = (sympy.Symbol(n) for n in ("E", "I", "gamma"))
    assert symbolic_solution(e * i / (g - 1), "E*I/(gamma - 1)", ranges).ok
    assert not symbolic_solution(sympy.E * i / (g - 1), "E*I/(gamma - 1)", ranges).ok


def test_child_process_agrees_and_times_out():
    x = sympy.Symbol("x")
    with SymbolicChecker() as checker:
        assert checker.check(3 * x + 1, "x", X).why == "not constant"
        assert checker.check(2.0 * x, "x", X).why == "ratio"
        ex = [("E", 1.0, 2.0), *X]       # e and a variable named E cross to the child apart
        assert checker.check(sympy.E * x, "E*x", ex).why == "not constant"
        assert checker.check(sympy.Symbol("E") * x, "E*x", ex).why == "difference"
        checker.timeout = 1e-4
        assert checker.check(sympy.sin(x) ** 9 + x, "sin(x)**9", X).why == "timeout"
        checker.timeout = 60.0
        assert checker.check(2.0 * x, "x", X).ok      # a new child after the timeout
    with SymbolicChecker(max_nodes=5) as checker:
        assert checker.check(sympy.sin(x) ** 9 + x, "sin(x)**9", X).why == "too large"
