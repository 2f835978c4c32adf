"""The operators taken on request (square, cube, tanh, asin, acos, atan): their values and
domain edges, every export and the file, and a search that builds with them."""
import math

import numpy as np
import pytest
import sympy

from conftest import SANITIZED
from test_cli import vok_math_cli
from vok_math import _engine, discover, load
from vok_math.discovery import DEFAULT_OPERATORS
from vok_math.equation import Equation
from vok_math.settings import ON_REQUEST

EDGES = [-1.5, -1.0000000000000002, -1.0, -0.5, -0.0, 0.0, 1e-8, 0.7, 1.0,
         1.0000000000000002, 2.0, -7.25, 1.4e154, 6e102, 1e300]


def reference(name, v):
    """The value the operator has at v, or NaN where it has none."""
    with np.errstate(all="ignore"):
        r = {"square": lambda a: a * a, "cube": lambda a: a * a * a, "tanh": math.tanh,
             "asin": lambda a: math.asin(a) if abs(a) <= 1 else math.nan,
             "acos": lambda a: math.acos(a) if abs(a) <= 1 else math.nan,
             "atan": math.atan}[name](v)
    return r if math.isfinite(r) else math.nan


@pytest.mark.parametrize("name", ["square", "cube", "tanh", "asin", "acos", "atan"])
def test_values_and_domain_edges_are_the_c_librarys(name):
    x = np.array(EDGES)
    want = np.array([reference(name, v) for v in EDGES])
    eq = Equation.from_parts([("var", 0), ("op", name)], 1.0, 0.0, ["x"])
    # Every row at once, and the rows that have a value alone (the column-wise path).
    for rows in (x, x[~np.isnan(want)]):
        got = np.asarray(_engine.evaluate([("var", 0), ("op", name)], rows[None, :]))
        assert got.tobytes() == want[np.isin(x, rows)].tobytes()
        np.testing.assert_array_equal(eq.predict(rows[:, None]), got)


PROGRAMS = [
    ([("var", 0), ("op", "square"), ("var", 1), ("op", "mul")], 0.5, 0.0,
     "0.5 * y * x**2", "x**2*y/2", r"\frac{x^{2} y}{2}"),
    ([("var", 0), ("op", "neg"), ("op", "cube")], 1.0, 2.0, "(-x)**3 + 2", "2 - x**3", r"2 - x^{3}"),
    ([("var", 0), ("op", "square"), ("op", "cube")], 1.0, 0.0, "(x**2)**3", "x**6", r"x^{6}"),
    ([("var", 1), ("op", "tanh"), ("op", "inv")], 3.0, 0.0, "3 / tanh(y)", "3/tanh(y)",
     r"\frac{3}{\tanh{\left(y \right)}}"),
    ([("var", 0), ("op", "asin"), ("var", 1), ("op", "acos"), ("op", "add"), ("op", "atan")],
     1.0, 0.0, "arctan(arcsin(x) + arccos(y))", "atan(acos(y) + asin(x))",
     r"\operatorname{atan}{\left(\operatorname{acos}{\left(y \right)} + "
     r"\operatorname{asin}{\left(x \right)} \right)}"),
]


@pytest.mark.parametrize("program, scale, offset, formula, text, latex", PROGRAMS)
def test_exports_write_them_and_compute_what_predict_does(program, scale, offset, formula, text,
                                                          latex):
    eq = Equation.from_parts(program, scale, offset, ["x", "y"])
    assert (eq.formula, str(eq.sympy()), eq.latex()) == (formula, text, latex)
    # Past asin's and acos's domain at both ends: NaN in every form.
    rows = np.column_stack([np.linspace(-1.2, 1.2, 41), np.linspace(0.93, -1.07, 41)])
    want = eq.predict(rows)
    namespace: dict = {}
    exec(eq.python(), namespace)
    got = namespace["f"](*rows.T)
    if not any(op in ("tanh", "asin", "acos", "atan") for _, op in program):
        np.testing.assert_array_equal(got, want)    # multiplications only: the same values
    np.testing.assert_allclose(got, want, rtol=1e-15, atol=0)
    symbols = sympy.symbols("x y")
    with np.errstate(all="ignore"):
        lam = sympy.lambdify(symbols, eq.sympy(), "numpy")(*rows.T)
    np.testing.assert_allclose(np.real_if_close(lam).astype(float), want, rtol=1e-12)


def test_square_is_one_token_of_a_search_and_its_file_round_trips(tmp_path):
    x, z = np.linspace(0.5, 3.0, 40), np.linspace(2.0, -1.0, 40) ** 3
    X, y = np.column_stack([x, z]), x ** 2 + np.sin(z)
    without = [op for op in DEFAULT_OPERATORS if op not in ("square", "cube")]
    plain = discover(X, y, names=["x", "z"], operators=without, progress=False)
    d = discover(X, y, names=["x", "z"], progress=False)
    assert (plain.best.formula, plain.best.size) == ("sin(z) + x * x", 6)
    assert (d.best.formula, d.best.size, d.best.rmse) == ("x**2 + sin(z)", 5, 0.0)
    assert ("op", "square") in d.best.program
    d.save(tmp_path / "run.json")
    again = load(tmp_path / "run.json")
    assert again == d and again.settings["unary"] == d.settings["unary"]
    assert again.best.predict(X).tobytes() == d.best.predict(X).tobytes()


def test_they_are_taken_on_request_only():
    assert not set(ON_REQUEST) & set(DEFAULT_OPERATORS)
    d = discover([1.0, 2.0, 3.0], [2.0, 4.0, 7.0], operators=["add", "arcsin"], progress=False)
    assert d.settings["unary"] == ["asin"]
    with pytest.raises(ValueError, match="unknown operator 'cubed'; known: .* square, cube,"):
        discover([1.0, 2.0, 3.0], [2.0, 4.0, 7.0], operators=["add", "cubed"])


@pytest.mark.skipif(SANITIZED, reason="pure Python; covered by the release lane")
def test_the_command_line_takes_them(tmp_path):
    rng = np.random.default_rng(3)
    V, R = rng.uniform(1, 10, 30), rng.uniform(1, 10, 30)
    np.savetxt(tmp_path / "data.csv", np.column_stack([V, R, V ** 2 / R]), delimiter=",",
               header="V,R,P", comments="")
    out = vok_math_cli("discover", "data.csv", "--operators", "mul,div,square", cwd=tmp_path)
    assert out.returncode == 0 and "chosen: P = V**2 / R\n" in out.stdout.decode()
    bad = vok_math_cli("discover", "data.csv", "--operators", "mul,squared", cwd=tmp_path)
    assert bad.returncode == 2 and "unknown operator 'squared'" in bad.stderr.decode()
