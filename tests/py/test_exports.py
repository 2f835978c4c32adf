"""Equation's exports against predict(): the numpy source gives its values and NaNs bit for bit
on random programs and hostile inputs, the sympy and LaTeX forms show no infinity or complex
number where the engine has a value, and every name gives working source or a clear error."""
import math
import re
from itertools import product

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import SANITIZED
from vok_math import Equation, _engine

sympy = pytest.importorskip("sympy")

UNARY = [op["name"] for op in _engine.OPERATORS if op["arity"] == 1]
BINARY = [op["name"] for op in _engine.OPERATORS if op["arity"] == 2]
up, down = (lambda v: math.nextafter(v, math.inf)), (lambda v: math.nextafter(v, -math.inf))
# Each guard's threshold and its neighbours, zeros, the ends of the doubles, NaN and infinities.
EDGES = [0.0, -0.0, 1.0, -1.0, -2.0, 0.5, 1e-305, -1e-305, 1e-300, down(1e-300), -1e-300,
         -down(1e-300), 5e-324, 1e-308, 1e308, -1e308, 1.7976931348623157e308, 709.78, up(709.78),
         709.782712893384, up(709.782712893384), 800.0, 1000.0, -1000.0, -745.2, math.pi,
         math.nan, math.inf, -math.inf]
RNG = np.random.default_rng(3)
ROWS = np.vstack([np.array(list(product(EDGES, EDGES))), RNG.uniform(-4, 4, (300, 2)),
                  np.exp(RNG.uniform(-700, 700, (300, 2))) * RNG.choice([-1, 1], (300, 2))])


def run(eq, rows=ROWS, name="f"):
    namespace = {}
    exec(eq.python(name), namespace)
    return namespace[name](*rows.T)


def bits(values):
    return np.asarray(values, dtype=np.float64).view(np.uint64)


leaves = st.one_of(st.tuples(st.just("var"), st.integers(0, 1)),
                   st.tuples(st.just("const"), st.sampled_from([0.0, -0.0, 1.0, 2.0, -3.0, 0.1,
                                                                  1e-300, 710.0, 2.0 ** 60])))
programs = st.recursive(leaves.map(lambda leaf: [leaf]), lambda inner: st.one_of(
    st.tuples(st.sampled_from(UNARY), inner).map(lambda t: [*t[1], ("op", t[0])]),
    st.tuples(st.sampled_from(BINARY), inner, inner).map(lambda t: [*t[1], *t[2], ("op", t[0])])),
    max_leaves=8)


@settings(max_examples=40 if SANITIZED else 400, deadline=None, database=None,
          suppress_health_check=[HealthCheck.too_slow])
@given(programs, st.sampled_from([1.0, -1.0, 0.5, -2.5, 1e300, 0.0]),
       st.sampled_from([0.0, -0.0, 1.5, -1e308, 1e-310]))
def test_source_gives_predicts_values_bit_for_bit(program, scale, offset):
    eq = Equation.from_parts(program, scale, offset, ["x", "y"])
    assert (bits(run(eq)) == bits(eq.predict(ROWS))).all(), eq.python()


@pytest.mark.parametrize("program, x", [
    ([("var", 0), ("op", "exp"), ("op", "inv")], 1000.0),      # was 0
    ([("var", 0), ("op", "ln")], 0.0),                         # was -inf
    ([("var", 0), ("op", "inv")], 1e-301),                     # was 1e301
    ([("var", 0), ("op", "exp")], 800.0),                      # was inf
    ([("var", 0), ("var", 0), ("op", "div")], 1e-305),         # was 1
    ([("var", 0), ("var", 0), ("op", "mul")], 1e200),          # was inf
])
def test_source_has_no_value_where_predict_has_none(program, x):
    eq = Equation.from_parts(program, 1.0, 0.0, ["x"])
    assert np.isnan(eq.predict([x])[0]) and np.isnan(run(eq, np.array([[x]]))[0])


@pytest.mark.parametrize("program, want", [
    ([("const", 3.0)], 3.0),
    ([("const", 3037000500.0), ("op", "neg"), ("op", "abs"), ("const", 3037000500.0), ("op", "mul")],
     3037000500.0 ** 2),
    ([("const", 2.0 ** 53 + 4), ("const", 1.0), ("op", "add"), ("const", 1.0), ("op", "add")],
     2.0 ** 53 + 4),
])
def test_constant_equations_give_float_arrays(program, want):
    # Python's integers are exact and numpy's abs of one is an int64: neither is the engine's.
    out = run(Equation.from_parts(program, 1.0, 0.0, ["x"]), np.zeros((4, 1)))
    assert out.dtype == np.float64 and out.shape == (4,) and (out == want).all()


@pytest.mark.parametrize("names, name", [
    (["np", "numpy", "_np", "_numpy"], "f"),
    (["vok", "math", "exp", "divisor"], "log"),
    (["result", "x"], "np"),
    (["ﬁ", "x"], "fi"),
])
def test_names_that_clash_with_the_source_give_working_code(names, name):
    program = [("var", 0), ("var", 1), ("op", "vok"), ("var", 1), ("op", "div"), ("op", "ln")]
    eq = Equation.from_parts(program, 2.0, 0.0, names)
    rows = np.tile(ROWS, 2)[:, :len(names)]
    assert (bits(run(eq, rows, name)) == bits(eq.predict(rows))).all()


@pytest.mark.parametrize("names, name, message", [
    (["x"], "class", "function name 'class' is a Python keyword"),
    (["x"], "ｃｌａｓｓ", "function name 'ｃｌａｓｓ' is a Python keyword"),
    (["x"], "2f", "function name '2f' is not a Python identifier"),
    (["ﬁ", "fi"], "f", "variable names 'ﬁ' and 'fi' are one name in Python source"),
])
def test_names_python_cannot_take_are_refused(names, name, message):
    eq = Equation.from_parts([("var", 0)], 1.0, 0.0, names)
    with pytest.raises(ValueError, match=re.escape(message)):
        eq.python(name)


@pytest.mark.parametrize("scale, offset, message", [
    (-np.inf, 0.0, "scale must be a finite number, got -inf"),
    (1.0, np.nan, "offset must be a finite number, got nan"),
])
def test_parts_that_no_search_writes_are_refused(scale, offset, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        Equation.from_parts([("var", 0)], scale, offset, ["x"])


def vok_of(b, a=("var", 0)):
    return Equation.from_parts([a, b, ("op", "vok")], 1.0, 0.0, ["x", "y"])


@pytest.mark.parametrize("eq, text", [
    (vok_of(("const", 0.0)), "exp(x) + 690.775527898214"),              # ln floors |b| at 1e-300
    (vok_of(("const", -2.0)), "exp(x) - log(2)"),                       # ln of |b|
    (vok_of(("const", 1.0), ("const", 1000.0)), "1000"),                # exp(ln a) above 709.78
    (vok_of(("var", 1)), "exp(x) - log(y)"),
    (Equation.from_parts([("const", 0.0), ("op", "inv"), ("var", 0), ("op", "add")],
                         1.0, 0.0, ["x"]), "nan"),                      # no value anywhere
    (Equation.from_parts([("var", 0), ("var", 0), ("op", "sub"), ("op", "ln")], 1.0, 0.0, ["x"]),
     "nan"),
    (Equation.from_parts([("const", 2.0), ("op", "neg"), ("op", "sqrt"), ("var", 0), ("op", "mul")],
                         1.0, 0.0, ["x"]), "nan"),
    (Equation.from_parts([("const", 1000.0), ("op", "exp"), ("var", 0), ("op", "mul")],
                         1.0, 0.0, ["x"]), "nan"),                      # exp overflows
    (Equation.from_parts([("var", 0)], 1e30, 2.0 ** 53, ["x"]), "1.0e+30*x + 9.00719925474099e+15"),
])
def test_symbolic_form_writes_the_engines_value(eq, text):
    assert str(eq.sympy()) == text
    latex = eq.latex()
    assert not re.search(r"infty|zoo|\bi\b|\d{17}", latex), latex


def test_symbolic_form_of_numbers_agrees_with_predict():
    for eq in (vok_of(("const", 0.0)), vok_of(("const", -2.0))):
        x = sympy.Symbol("x")
        got = sympy.lambdify(x, eq.sympy(), "math")(0.5)
        assert got == pytest.approx(eq.predict([[0.5, 7.0]])[0], rel=1e-15)


def compiles(latex):
    """Whether TeX would take the math: balanced braces and \\left/\\right, and every _ or ^
    after something to attach to, with an argument, at most one of each per nucleus."""
    frames = [[False, set(), False]]          # per group: has a nucleus, its scripts, is a script
    expect = False
    lefts = 0
    for t in re.findall(r"\\[A-Za-z]+|\\.|\S", latex):
        frame = frames[-1]
        if t == "{":
            frames.append([False, set(), expect])
            expect = False
        elif t == "}":
            if len(frames) == 1 or expect:
                return False
            if not frames.pop()[2]:
                frames[-1][:2] = [True, set()]
        elif t in "_^":
            if expect or not frame[0] or t in frame[1]:
                return False
            frame[1].add(t)
            expect = True
        elif expect:
            expect = False
        else:
            lefts += (t == r"\left") - (t == r"\right")
            frame[:2] = [True, set()]
    return len(frames) == 1 and lefts == 0 and not expect


@pytest.mark.parametrize("name, want", [
    ("x_", r"\mathit{x\_}"), ("x__", r"\mathit{x\_\_}"), ("_a", r"\mathit{\_a}"), ("_", r"\mathit{\_}"),
    ("x___y", r"\mathit{x\_\_\_y}"), ("pi", r"\mathit{pi}"), ("E", "E"), ("I", "I"),
    ("v_max", "v_{max}"), ("alpha", r"\alpha"),          # sympy's reading, where it keeps the name
])
def test_variable_names_stay_variables_in_latex(name, want):
    single = Equation.from_parts([("var", 0)], 1.0, 0.0, [name])
    assert single.latex() == want and compiles(want)
    eq = Equation.from_parts([("var", 0), ("var", 1), ("op", "mul")], 3.0, 0.0, [name, "x_1"])
    expr = eq.sympy()
    assert {s.name for s in expr.free_symbols} == {name, "x_1"}
    assert not expr.atoms(sympy.NumberSymbol) and not expr.has(sympy.I)
    assert compiles(eq.latex()), eq.latex()


@pytest.mark.parametrize("latex, ok", [
    ("x_{}", True), ("x_{1}^{2}", True), (r"\frac{a}{b}", True), ("x^{}_{y}", True),
    ("_a", False), ("x_{1}_a", False), ("x_", False), ("{a", False), (r"\left(x", False),
])
def test_the_latex_check_bites(latex, ok):
    assert compiles(latex) == ok
