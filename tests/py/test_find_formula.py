"""find_formula through the module: the result and its texts, and the operator switches'
wiring. The search itself is tested in C++; processes and signals in test_process."""
import math

import pytest

import vok_math.vok_core as vc


def test_linear_law_and_its_result():
    r = vc.find_formula([[0.0, 1.0, 2.0, 3.0]], [1.0, 3.0, 5.0, 7.0])
    assert (r.formula, r.error, r.complexity, r.params) == ("((x + x) + 1.0000)", 0.0, 5, [])
    assert repr(r) == str(r) == "SearchResult(formula='((x + x) + 1.0000)', error=0.00e0, complexity=5)"
    assert r.params is not r.params


def test_renderings_of_a_result():
    r = vc.find_formula([[1.0, 4.0, 9.0, 16.0]], [1.0, 2.0, 3.0, 4.0])
    assert r.formula == "sqrt(x)"
    assert r.to_latex() == "\\sqrt{x}"
    assert r.to_python() == "import math\nf = lambda x: math.sqrt(x)"


@pytest.mark.parametrize("error, text", [
    (0.5, "5.00e-1"), (2.5e-11, "2.50e-11"), (math.inf, "inf"), (math.nan, "NaN")])
def test_repr_error_format(error, text):
    # Shapes the error through the data: a constant target c scores |c - best leaf|.
    if math.isnan(error):
        r = vc.find_formula([[1.0]], [], max_complexity=1)
    elif math.isinf(error):
        r = vc.find_formula([[1.0]], [math.inf], max_complexity=1)
    else:
        r = vc.find_formula([[5.0]], [error], max_complexity=1, complexity_penalty=0.0)
    assert f"error={text}," in repr(r)


@pytest.mark.parametrize("kwargs, absent", [
    ({"use_trig": False}, ("sin", "cos")), ({"use_vok": False}, ("vok",))])
def test_disabled_operators_never_appear(kwargs, absent):
    xs = [0.1 * i for i in range(1, 30)]
    ys = [math.sin(x) + math.exp(x) - math.log(x) for x in xs]
    r = vc.find_formula([xs], ys, max_complexity=5, beam_width=200, **kwargs)
    assert not any(name in r.formula for name in absent)
