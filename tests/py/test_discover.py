"""discover() and its results: the laws it finds with default settings, exports that agree with
predict, exact save/load, the estimator, Ctrl-C, and messages for missing extras."""
import doctest
import importlib
import math
import pickle
import re
import signal
import subprocess
import sys
import textwrap
import tomllib
import warnings
from pathlib import Path

import numpy as np
import pandas as pd
import pytest
import sympy

import vok_math
from vok_math import Discovery, Equation, discover, load

RNG = np.random.default_rng(7)


def laws():
    m, v = RNG.uniform(0.5, 3.0, 40), RNG.uniform(-2.0, 2.0, 40)
    x = np.linspace(-2.0, 2.0, 41)
    volts, ohms = RNG.uniform(1.0, 10.0, 40), RNG.uniform(10.0, 100.0, 40)
    return [
        (pd.DataFrame({"m": m, "v": v}), 0.5 * m * v * v, None, "m*v**2/2"),
        (x, 9.81 * x, ["t"], "9.81*t"),
        (x, np.exp(-x * x), None, "exp(-x**2)"),
        (np.column_stack([volts, ohms]), volts ** 2 / ohms, ["V", "R"], "V**2/R"),
    ]


@pytest.fixture(scope="module")
def noisy():
    """A search whose front holds many shapes of formula (no exact answer to stop at)."""
    x = np.linspace(0.1, 4.0, 60)
    X = np.column_stack([x, x[::-1] - 2.0])
    y = x ** 2.37 + 0.3 * np.sin(3 * x) + 0.05 * RNG.standard_normal(60)
    every = [*vok_math.discovery.DEFAULT_OPERATORS, "vok", "abs"]
    return X, y, discover(X, y, max_size=6, operators=every, progress=False)


@pytest.mark.parametrize("X, y, names, want", laws())
def test_plain_laws_are_found_with_default_settings(X, y, names, want):
    d = discover(X, y, names=names, progress=False)
    assert str(d.best.sympy()) == want
    assert d.best.rmse <= 1e-12 * np.sqrt(np.mean(y * y)) and d.stopped == "complete"
    assert d.sizes[-1]["size"] < d.settings["max_size"]       # it stopped at the exact fit
    assert d.best is d.equations[-1]
    sizes = [e.size for e in d.equations]
    errors = [e.rmse for e in d.equations]
    assert sizes == sorted(set(sizes)) and errors == sorted(errors, reverse=True)
    assert len(set(errors)) == len(errors)


def test_predict_reproduces_the_reported_errors(noisy):
    X, y, d = noisy
    assert len(d.equations) >= 4
    for eq in d.equations:
        residual = eq.predict(X) - y
        assert math.sqrt(np.cumsum(residual * residual)[-1] / len(y)) == eq.rmse
        assert eq.r2 == pytest.approx(1 - np.sum(residual ** 2) / np.sum((y - y.mean()) ** 2), rel=1e-12)


def run_source(eq, columns):
    namespace = {}
    exec(eq.python(), namespace)
    return namespace["f"](*columns)


def agree_where_finite(reference, other, must_be_finite):
    finite = np.isfinite(reference) & (np.isfinite(other) | ~must_be_finite)
    assert (finite == np.isfinite(reference)).all()
    np.testing.assert_allclose(other[finite], reference[finite], rtol=1e-12, atol=0)


def test_sympy_and_python_forms_agree_with_predict(noisy):
    X, _, d = noisy
    grid = np.column_stack([np.linspace(-3, 5, 200), np.linspace(6, -4, 200)])
    vok = Equation.from_parts([("var", 0), ("var", 1), ("op", "vok")], -1.5, 0.25, ["a", "b"])
    for eq in (*d.equations, vok):
        for rows in (X, grid):
            want = eq.predict(rows)
            agree_where_finite(want, run_source(eq, rows.T), must_be_finite=True)
            symbols = [sympy.Symbol(n) for n in eq.names]
            with np.errstate(all="ignore"):
                got = np.broadcast_to(sympy.lambdify(symbols, eq.sympy(), "numpy")(*rows.T), want.shape)
            got = np.real_if_close(got).astype(float)
            # The sympy form of vok holds where its log's operand is positive (see its module).
            held = np.isfinite(got) | ("vok" not in eq.formula)
            agree_where_finite(want[held], got[held], must_be_finite=False)


@pytest.mark.parametrize("program, scale, offset, formula, python", [
    ([("var", 0), ("var", 1), ("var", 2), ("op", "add"), ("op", "sub")], 1.0, 0.0,
     "a - (b + c)", "a - (b + c)"),
    ([("var", 0), ("var", 1), ("op", "add"), ("var", 2), ("op", "add")], 1.0, 0.0,
     "a + b + c", "a + b + c"),
    ([("var", 0), ("var", 1), ("var", 2), ("op", "add"), ("op", "add")], 1.0, 0.0,
     "a + b + c", "a + (b + c)"),
    ([("var", 0), ("op", "neg"), ("var", 1), ("op", "mul"), ("op", "neg")], -1.0, -0.5,
     "-(-(-a * b)) - 0.5", "-(-(-a * b)) - 0.5"),
    ([("var", 0), ("var", 1), ("op", "neg"), ("op", "div")], 2 / 3, 0.0,
     "2/3 * a / (-b)", "0.6666666666666666 * (a / divisor(-b))"),
    ([("var", 2), ("op", "inv"), ("op", "ln")], 3.0, 1.0, "3 * log(1 / c) + 1",
     "3 * log(1 / divisor(c)) + 1"),
    ([("var", 0), ("const", 2.0), ("op", "vok")], 0.5, 0.0, "0.5 * vok(a, 2)", "0.5 * vok(a, 2)"),
    ([("var", 1), ("var", 1), ("var", 0), ("op", "mul"), ("op", "mul")], 0.5, 0.0,
     "0.5 * a * b * b", "0.5 * (b * (a * b))"),
    ([("var", 2), ("var", 1), ("op", "inv"), ("op", "mul"), ("var", 0), ("op", "mul")], 1.0, 0.0,
     "a * c / b", "c * (1 / divisor(b)) * a"),
])
def test_infix_text(program, scale, offset, formula, python):
    eq = Equation.from_parts(program, scale, offset, ["a", "b", "c"])
    assert eq.formula == formula
    assert f"\n        result = {python}\n" in eq.python()


def test_fitted_constants_are_written_as_simple_numbers_when_exact():
    x = np.linspace(0.3, 2.0, 25)
    d = discover(x, 1.5 * np.sqrt(x) - 1 / 3, progress=False)
    assert d.best.formula == "1.5 * sqrt(x) - 1/3"
    assert str(d.best.sympy()) == "3*sqrt(x)/2 - 1/3" and d.best.size == 4
    assert d.best.latex() == r"\frac{3 \sqrt{x}}{2} - \frac{1}{3}"


@pytest.mark.parametrize("scale, offset, want_scale, want_offset", [
    (0.49999999999999994, 0.0, 0.5, 0.0),
    (1.5000000000000002, -2e-17, 1.5, 0.0),
    (0.9999999999999998, 0.33333333333333326, 1.0, 1 / 3),
    (9.810000000000002, 0.0, 9.81, 0.0),
    (0.5003, 0.0, 0.5003, 0.0),                    # a real constant is left alone
])
def test_fitted_constants_within_rounding_become_simple(scale, offset, want_scale, want_offset):
    x = np.linspace(0.5, 2.0, 30)
    y = want_scale * x + want_offset
    columns = np.ascontiguousarray(x[None, :])
    samples = vok_math.front.Samples(columns, y, None, 1e-12 * float(np.sqrt(np.mean(y * y))))
    found = vok_math.front.build_front(
        samples, ("x",), [{"program": [("var", 0)], "scale": scale, "offset": offset,
                           "order": 0}])[0].equation
    assert (found.scale, found.offset) == (want_scale, want_offset)
    assert found.size == 1 + (want_scale != 1) + (want_offset != 0)


def test_calls_and_predict_take_every_shape():
    eq = Equation.from_parts([("var", 0), ("var", 1), ("op", "div"), ("op", "ln")], 1.0, 0.0,
                             ["m", "v"])
    X = np.array([[1.0, 2.0], [2.0, 1.0], [np.nan, 1.0], [1.0, 0.0], [-1.0, 1.0]])
    want = [math.log(0.5), math.log(2.0), math.nan, math.nan, math.nan]
    np.testing.assert_array_equal(eq.predict(X), want)
    np.testing.assert_array_equal(eq(X), want)
    np.testing.assert_array_equal(eq(X[:, 0], X[:, 1]), want)
    np.testing.assert_array_equal(eq(v=X[:, 1], m=X[:, 0]), want)
    np.testing.assert_array_equal(eq.predict(pd.DataFrame({"v": X[:, 1], "m": X[:, 0]})), want)
    assert eq(np.ones((2, 3)), 2.0).shape == (2, 3)
    with pytest.raises(ValueError, match=r"X has 3 features but the equation has 2 variables \(m, v\)"):
        eq.predict(np.ones((2, 3)))
    with pytest.raises(TypeError, match="unknown: w"):
        eq(m=1.0, w=2.0)


def test_save_load_and_pickle_round_trip_exactly(noisy, tmp_path):
    X, _, d = noisy
    path = tmp_path / "run.json"
    d.save(path)
    for again in (load(path), pickle.loads(pickle.dumps(d)), pickle.loads(pickle.dumps(load(str(path))))):
        assert isinstance(again, Discovery) and again == d
        assert again.best == d.best and again.stopped == d.stopped and again.settings == d.settings
        for a, b in zip(again.equations, d.equations):
            assert a.program == b.program
            assert [x.hex() for x in (a.scale, a.offset, a.rmse, a.r2)] == \
                   [x.hex() for x in (b.scale, b.offset, b.rmse, b.r2)]
            np.testing.assert_array_equal(a.predict(X), b.predict(X))
    assert pickle.loads(pickle.dumps(d.best)) == d.best


def corrupt(text):
    import json
    state = json.loads(text)
    return [
        (text[: len(text) // 2], "corrupt or truncated JSON"),
        ("", "corrupt or truncated JSON"),
        ("[1, 2]", "not a vok_math discovery file"),
        (json.dumps(dict(state, version=2)), "written by a newer vok_math (file format version 2"),
        (json.dumps(dict(state, version="1")), "bad format version '1'"),
        (json.dumps({k: v for k, v in state.items() if k != "equations"}), "missing field 'equations'"),
        (json.dumps(dict(state, best=99)), "bad best equation index 99"),
        (json.dumps(dict(state, stopped="bored")), "unknown stop reason 'bored'"),
        (json.dumps(dict(state, names=["x0", "x0"])), "variable names clash"),
        (json.dumps(dict(state, names=[])), "field 'names' has a bad value [] (expected a list of at least 1"),
        (json.dumps(dict(state, equations=[dict(state["equations"][0], program=[["op", "pow"]])])),
         "malformed program: bad token 0"),
        (json.dumps(dict(state, equations=[dict(state["equations"][0], program=[["var", 9]])])),
         "malformed program: bad token 0"),
        (json.dumps(dict(state, equations=[dict(state["equations"][0], size=99)])),
         "equation size 99 does not match"),
        (json.dumps(dict(state, equations=[dict(state["equations"][0], rmse="low")])),
         "field 'rmse' has a bad value 'low'"),
    ]


def test_bad_files_are_refused_with_the_reason(noisy, tmp_path):
    _, _, d = noisy
    good = tmp_path / "good.json"
    d.save(good)
    bad = tmp_path / "bad.json"
    for text, reason in corrupt(good.read_text()):
        bad.write_text(text)
        with pytest.raises(ValueError) as info:
            load(bad)
        assert str(info.value).startswith(f"{bad}: ") and reason in str(info.value), text[:80]


def test_results_describe_themselves(noisy):
    _, _, d = noisy
    text = repr(d)
    assert text.splitlines()[0].startswith(f"Discovery: {len(d.equations)} equations over (x0, x1)")
    assert all(e.formula in text for e in d.equations) and text.count("\n*") == 1
    assert "<table>" in d._repr_html_()
    table = d.table()
    assert list(table.columns)[:5] == ["size", "rmse", "r2", "formula", "best"]
    assert table["formula"].tolist() == [e.formula for e in d.equations]
    assert table.loc[table["best"], "formula"].item() == d.best.formula
    assert d.settings["max_size"] == 6 and d.n_samples == 60


@pytest.mark.parametrize("kwargs, exc, text", [
    ({"max_size": 0}, ValueError, "max_size must be between 1 and 30, got 0"),
    ({"max_size": 2.0}, TypeError, "max_size must be an integer, not float"),
    ({"operators": ["add", "pow"]}, ValueError, "unknown operator 'pow'; known: neg, inv,"),
    ({"operators": "add"}, TypeError, "operators must be a sequence of names"),
    ({"constants": [1.0, math.inf]}, ValueError, "constants must be finite, got inf"),
    ({"time_limit": 0}, ValueError, "time_limit must be positive (math.inf for none), got 0"),
    ({"n_threads": 0}, ValueError, "n_threads must be at least 1, got 0"),
])
def test_bad_settings(kwargs, exc, text):
    with pytest.raises(exc) as info:
        discover([1.0, 2.0, 3.0], [2.0, 4.0, 7.0], **kwargs)
    assert str(info.value).startswith(text)


def test_budgets_and_progress_callbacks():
    x = np.linspace(0.1, 4.0, 50)
    seen = []
    d = discover(x, x ** 2.37 + np.sin(x), max_evaluations=500, progress=seen.append)
    assert d.stopped == "evaluations" and d.equations and d.settings["max_evaluations"] == 500
    assert seen and set(seen[-1]) == {"size", "done", "expected", "best_rmse", "elapsed"}
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        discover(x, 2 * x, progress=True)        # the bar appears only on long searches


def test_ctrl_c_returns_the_front_so_far_with_a_warning():
    code = textwrap.dedent("""
        import warnings, numpy as np, vok_math
        x = np.linspace(0.1, 4.0, 3000)
        y = x ** 2.37 + np.sin(3 * x)
        def ready(info, said=[]):
            if not said:
                said.append(print("ready", flush=True))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            d = vok_math.discover(np.column_stack([x, x * x, x - 1]), y, max_size=30,
                                  time_limit=600, progress=ready)
        print(d.stopped, len(d.equations) > 0, [type(w.message).__name__ for w in caught])
    """)
    with subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True) as proc:
        try:
            assert proc.stdout.readline().strip() == "ready", proc.stderr.read()
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=60)
        finally:
            proc.kill()
    assert proc.returncode == 0, err
    assert out.split() == ["interrupted", "True", "['SearchInterruptedWarning']"]


def test_estimator_passes_scikit_learns_checks():
    from sklearn.utils.estimator_checks import check_estimator
    # Weights are measurement weights (1/sigma^2): the criteria that choose and simplify count
    # rows, not weights, so integer weights are not the same as repeated rows.
    results = check_estimator(vok_math.VOKRegressor(max_size=3), on_fail=None,
                              expected_failed_checks={
                                  "check_sample_weight_equivalence_on_dense_data":
                                      "weights are 1/sigma^2 of the rows, not their counts"})
    failed = [(r["check_name"], r["exception"]) for r in results if r["status"] == "failed"]
    skipped = {r["check_name"] for r in results if r["status"] == "skipped"}
    assert not failed
    assert skipped <= {"check_array_api_input"}     # needs SCIPY_ARRAY_API set before import


def test_estimator_uses_the_dataframes_names():
    m, v = RNG.uniform(0.5, 3.0, 30), RNG.uniform(-2.0, 2.0, 30)
    model = vok_math.VOKRegressor().fit(pd.DataFrame({"m": m, "v": v}), 0.5 * m * v * v)
    assert str(model.best_.sympy()) == "m*v**2/2" and list(model.feature_names_in_) == ["m", "v"]
    assert model.equations_ == model.discovery_.equations and model.n_features_in_ == 2


@pytest.mark.parametrize("blocked, action, text", [
    ("sympy", lambda eq: eq.sympy(), "this needs sympy: pip install 'vok_math[sympy]'"),
    ("sympy", lambda eq: eq.latex(), "this needs sympy: pip install 'vok_math[sympy]'"),
    ("sklearn", lambda eq: vok_math.VOKRegressor, "VOKRegressor needs scikit-learn 1.6 or newer"),
])
def test_missing_extras_are_named(monkeypatch, blocked, action, text):
    for name in [blocked, *(n for n in sys.modules if n.startswith(blocked + "."))]:
        monkeypatch.setitem(sys.modules, name, None)
    monkeypatch.delitem(sys.modules, "vok_math.estimator", raising=False)
    eq = Equation.from_parts([("var", 0)], 2.0, 0.0, ["x"])
    with pytest.raises(ImportError, match="^" + re.escape(text)):
        action(eq)


def test_table_without_pandas_is_a_list_of_dicts(monkeypatch):
    d = discover([1.0, 2.0, 3.0], [2.0, 4.0, 6.0], progress=False)
    monkeypatch.setitem(sys.modules, "pandas", None)
    assert d.table()[-1].items() >= {"size": 2, "rmse": 0.0, "r2": 1.0, "formula": "2 * x",
                                     "best": True}.items()


def test_version_matches_the_package_metadata():
    root = Path(__file__).resolve().parents[2]
    with open(root / "pyproject.toml", "rb") as f:
        assert vok_math.__version__ == tomllib.load(f)["project"]["version"]
    assert vok_math.__all__[:len(vok_math.vok_core.__all__)] == vok_math.vok_core.__all__


@pytest.mark.parametrize("module", ["vok_math", "vok_math.data", "vok_math.export",
                                    "vok_math.discovery", "vok_math.estimator"])
def test_docstring_examples_run(module):
    result = doctest.testmod(importlib.import_module(module), optionflags=doctest.ELLIPSIS)
    assert result.failed == 0 and result.attempted > 0
