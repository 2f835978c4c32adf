"""Laws from noisy data: uncertainties, the simplest constants, weights, the exactness floor."""

import math
import warnings

import numpy as np
import pytest
import sympy

from vok_math import discover

RNG = np.random.default_rng(7)
X1 = RNG.uniform(1, 5, 200)
X2 = RNG.uniform(1, 5, 200)
# A named constant with a multiple (1/(4π): 5 bits) is worth stating once the rows make a
# fitted constant cost more than its bits (ln n / 2 nats): from about 1,000 rows.
LONG = RNG.uniform(1, 5, 2000)


def noisy(y, level=0.01, seed=3):
    return y + level * np.sqrt(np.mean(y * y)) * np.random.default_rng(seed).standard_normal(len(y))


@pytest.mark.parametrize("X, y, names, truth", [
    (np.column_stack([X1, X2]), X1 * X2, ["x", "y"], "x*y"),
    (X1, np.log(X1), ["x"], "log(x)"),
    (LONG, 0.25 * LONG * LONG / math.pi, ["x"], "x**2/(4*pi)"),
])
def test_laws_are_stated_exactly_at_one_percent_noise(X, y, names, truth):
    d = discover(X, noisy(y, seed=4), names=names, max_size=5, time_limit=math.inf, progress=False)
    symbols = {n: sympy.Symbol(n) for n in names}
    assert sympy.simplify(d.best.sympy() - sympy.sympify(truth, locals=symbols)) == 0


def test_standard_errors_are_those_of_least_squares():
    y = noisy(2.37 * X1 + 1.2345, level=0.001)  # no simple number within their reach
    d = discover(X1, y, operators=["add"], max_size=1, progress=False)
    eq = d.best
    (scale, offset), cov = np.polyfit(X1, y, 1, cov=True)
    assert eq.dof == 198 and eq.sigma == pytest.approx(math.sqrt(eq.sse / 198), rel=1e-12)
    np.testing.assert_allclose([eq.scale, eq.offset], [scale, offset], rtol=1e-9)
    np.testing.assert_allclose([eq.scale_se, eq.offset_se, eq.covariance],
                               [math.sqrt(cov[0, 0]), math.sqrt(cov[1, 1]), cov[0, 1]], rtol=1e-9)
    assert "± " in repr(d) and set(d.table().columns) >= {"scale_se", "offset_se", "criterion"}


def test_weights_fit_by_weighted_least_squares_and_a_zero_weight_row_takes_no_part():
    w = RNG.uniform(0.5, 4, 200)
    w[:5] = 0.0
    y = noisy(2.37 * X1 + 1.2345, level=0.001)
    y[:5] = 1e6
    eq = discover(X1, y, operators=["add"], max_size=1, progress=False, sample_weight=w).best
    scale, offset = np.polyfit(X1[5:], y[5:], 1, w=np.sqrt(w[5:]))
    np.testing.assert_allclose([eq.scale, eq.offset], [scale, offset], rtol=1e-9)
    assert eq.dof == 200 - 5 - 2


@pytest.mark.parametrize("weights, text", [
    ([1.0, -1.0, 1.0, 1.0], "sample_weight must be finite and non-negative: row 1 is -1.0"),
    ([1.0, math.nan, 1.0, 1.0], "row 1 is nan"),
    ([math.inf, 1.0, 1.0, 1.0], "row 0 is inf"),
    ([0.0, 0.0, 0.0, 0.0], "sample_weight: every weight is zero"),
    ([0.0, 0.0, 3.0, 0.0], "sample_weight: 1 row has positive weight; at least 2 rows must count"),
    ([1.0, 1.0], "sample_weight has shape (2,); 4 weights are needed"),
])
def test_bad_weights_are_refused(weights, text):
    with pytest.raises(ValueError) as info:
        discover([1.0, 2.0, 3.0, 4.0], [2.0, 4.0, 6.0, 8.0], sample_weight=weights)
    assert text in str(info.value)


def test_model_selection_is_checked():
    with pytest.raises(ValueError, match="model_selection must be one of mdl, bic, knee"):
        discover([1.0, 2.0, 3.0], [1.0, 2.0, 3.0], model_selection="aic")


def test_exact_means_within_the_rounding_of_ys_numbers_not_its_level():
    x = np.linspace(0, 10, 50)
    d = discover(x, 9192631770 + 1e-3 * x * x, max_size=4, progress=False)
    assert d.best.size > 1 and "x**2" in d.best.formula and d.best.r2 > 0.999999


def test_a_constant_target_is_one_exact_constant_without_warnings():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        d = discover(X1[:20], np.full(20, 3.7), progress=False)
    assert [e.formula for e in d.equations] == ["3.7"] and d.best.rmse == 0


@pytest.mark.parametrize("exponent", [-300, -160, -60, 0, 60, 160, 300])
def test_any_magnitude_of_y_or_x_finds_the_same_law(exponent):
    x = np.linspace(1, 3, 30)
    scale = 10.0 ** exponent
    d = discover(x, scale * x * x, max_size=3, progress=False)
    assert d.best.formula == f"{scale!r} * x**2" or d.best.formula == "x**2"
    assert d.best.rmse <= d.noise_floor and math.isfinite(d.best.rmse)
    # Variables at any magnitude: candidates that overflow have no value, nothing breaks.
    assert discover(scale * x, x * x, max_size=3, progress=False).equations


@pytest.mark.parametrize("value, text, symbolic", [
    (0.25 / math.pi, "(0.25 * (1 / np.pi))", "x**2/(4*pi)"),
    (0.75 * math.sqrt(2 * math.pi), "(0.75 * np.sqrt(2 * np.pi))", "3*sqrt(2)*sqrt(pi)*x**2/4"),
    (-math.e, "(-1 * np.e)", "-E*x**2"),
])
def test_named_constants_are_exported_exactly(value, text, symbolic):
    from vok_math import Equation
    eq = Equation.from_parts([("var", 0), ("var", 0), ("op", "mul")], value, 0.0, ["x"])
    namespace = {}
    exec(eq.python(), namespace)
    assert text in eq.python() and str(eq.sympy()) == symbolic
    assert namespace["f"](X1).tobytes() == eq.predict(X1).tobytes()
