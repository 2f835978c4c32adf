"""Laws of several terms: discover(terms=D) and the engine's combination search."""

import math

import numpy as np
import pytest

from vok_math import _engine, discover, load

RNG = np.random.default_rng(0)
X6 = RNG.uniform(1, 5, (200, 6))
Y6 = X6[:, 0] * X6[:, 1] + X6[:, 2] * X6[:, 3] + X6[:, 4] * X6[:, 5]
NAMES6 = ["x1", "y1", "x2", "y2", "x3", "y3"]
EXACT = {"max_size": 5, "time_limit": math.inf, "progress": False, "names": NAMES6}


@pytest.fixture(scope="module")
def three_terms():
    return discover(X6, Y6, terms=3, **EXACT)


def test_a_sum_of_three_products_is_found_with_three_terms_only(three_terms):
    best = three_terms.best
    assert best.formula == "x1 * y1 + x2 * y2 + x3 * y3"
    assert best.term_sizes == (3, 3, 3) and best.size == 9 and best.rmse <= three_terms.noise_floor
    one = discover(X6, Y6, terms=1, **EXACT)
    assert one.best.rmse > 1 and all(not e.term_sizes for e in one.equations)
    assert "terms" not in one.settings and three_terms.settings["terms"] == 3
    np.testing.assert_allclose(best.predict(X6), Y6, rtol=1e-12)


def test_a_law_of_several_terms_exports_and_saves(three_terms, tmp_path):
    best = three_terms.best
    namespace = {"np": np}
    exec(best.python(), namespace)
    assert np.array_equal(namespace["f"](*X6.T), best.predict(X6))
    assert str(best.sympy()) == "x1*y1 + x2*y2 + x3*y3"
    three_terms.save(tmp_path / "run.json")
    assert load(tmp_path / "run.json") == three_terms


def test_fitted_coefficients_are_settled_to_simple_values():
    x = np.linspace(1, 3, 40)
    z = np.cos(np.arange(40.0))
    d = discover(np.column_stack([x, z]), 2.5 * np.exp(x) - 0.5 * z * z + 0.25,
                 names=["x", "z"], terms=2, max_size=4, time_limit=math.inf, progress=False)
    assert d.best.formula == "2.5 * exp(x) - 0.5 * z**2 + 0.25"
    assert d.best.size == 1 + 1 + 2 + 1 + 1 + 1  # terms' tokens, two coefficients, offset


def test_the_front_does_not_depend_on_the_worker_count():
    noisy = Y6 + RNG.normal(scale=0.5, size=200)
    runs = [discover(X6, noisy, terms=3, n_threads=n, **{**EXACT, "max_size": 4})
            for n in (1, 2)]
    assert runs[0].equations == runs[1].equations and runs[0].best == runs[1].best
    assert any(e.term_sizes for e in runs[0].equations)


def test_by_default_a_sum_joins_the_front_only_when_exact():
    exact = discover(X6, Y6, **EXACT)
    assert exact.best.formula == "x1 * y1 + x2 * y2 + x3 * y3" and "terms" not in exact.settings
    noisy = discover(X6, Y6 + RNG.normal(scale=0.5, size=200), **{**EXACT, "max_size": 4})
    assert not any(e.term_sizes for e in noisy.equations)


@pytest.mark.parametrize(("sign", "formula"), [(1, "z * exp(x) - z"), (-1, "z - z * exp(x)")])
def test_a_sum_is_written_from_a_positive_term(sign, formula):
    X = np.random.default_rng(3).uniform(1, 3, (100, 2))
    y = sign * (X[:, 1] * np.exp(X[:, 0]) - X[:, 1])
    d = discover(X, y, names=["x", "z"], max_size=5, time_limit=math.inf, progress=False)
    assert d.best.formula == formula


def test_a_memory_budget_too_small_for_the_combinations_stops_the_rounds():
    d = discover(X6, Y6, terms=3, memory_limit=1, **{**EXACT, "max_size": 1})
    assert d.stopped == "memory" and d.equations


@pytest.mark.parametrize(("terms", "scaling"), [(0, True), (-1, True), (6, True), (2.0, True),
                                               (2.5, True), ("3", True), (True, True),
                                               (2, False)])
def test_bad_terms_are_refused_before_any_work(terms, scaling):
    with pytest.raises(ValueError, match="terms"):
        discover(X6, Y6, terms=terms, scaling=scaling)


def test_the_combination_search_is_deterministic_and_drops_scaled_copies():
    columns = np.ascontiguousarray(X6.T)
    products = [[("var", i), ("var", j), ("op", "mul")] for i in range(6) for j in range(i + 1, 6)]
    copy = [("var", 0), ("var", 1), ("op", "mul"), ("const", 1.0), ("op", "add")]
    programs = [*products, copy, [("var", 0), ("const", 2.0), ("op", "sub"), ("op", "ln")]]
    found = [_engine.search_terms(programs, columns, Y6, max_terms=3, n_threads=n)
             for n in (1, 2)]
    assert found[0] == found[1]
    # The copy of x1*y1 and ln(x1 - 2), without a value where x1 < 2, take no part.
    assert found[0]["screened"] == len(products) and found[0]["stopped"] == "complete"
    best = min(found[0]["combinations"], key=lambda c: c[2])
    assert best[0] == (0, 9, 14) and best[2] < 1e-18 * float(np.sum((Y6 - Y6.mean()) ** 2)) + 1e-9
    fit = _engine.fit_terms([programs[i] for i in best[0]], columns, Y6)
    assert fit is not None and fit["coefficients"] == pytest.approx([1, 1, 1], rel=1e-13)


@pytest.mark.parametrize("kwargs", [{"max_terms": 1}, {"max_terms": 6}, {"keep": 0},
                                    {"time_limit": -1.0}, {"weights": [1.0]}])
def test_the_combination_search_refuses_bad_settings(kwargs):
    with pytest.raises(ValueError):
        _engine.search_terms([[("var", 0)], [("var", 1)]], [[1.0, 2.0], [3.0, 1.0]],
                             [1.0, 2.0], **kwargs)
