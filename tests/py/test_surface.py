"""The Python surface under misuse: failures keep what was found or leave things as they were,
and bad input is an error naming what is wrong, never a wrong answer or a bare exception."""
import json
import re

import numpy as np
import pandas as pd
import pytest

import vok_math.vok_core as vc
from vok_math import Discovery, Equation, VOKRegressor, discover, load

X1 = np.linspace(1.0, 3.0, 20)


@pytest.fixture(scope="module")
def saved(tmp_path_factory):
    path = tmp_path_factory.mktemp("run") / "good.json"
    discover(X1, 2 * X1 + np.sin(X1), max_size=5, progress=False).save(path)
    return json.loads(path.read_text())


def test_an_impossible_beam_says_what_it_needed_and_the_limit():
    xs = [[0.05 * i + 0.01 * j for i in range(1, 201)] for j in range(300)]
    with pytest.raises(MemoryError) as info:
        vc.find_formula(xs, [x ** 1.37 for x in xs[0]], beam_width=10**12)
    found = re.fullmatch(r"find_formula\(\): the search needs (\d+) bytes \(.* GiB\) of working "
                         r"memory, more than its limit of (\d+) bytes \(.*\); a smaller "
                         r"beam_width or max_complexity needs less", str(info.value))
    assert found and int(found[1]) > int(found[2]) > 0


def slow_problem():
    x = np.linspace(0.1, 4.0, 300)
    X = np.column_stack([x, x[::-1], np.sin(x)])
    return X, x ** 2.37 + 0.3 * np.sin(3 * x) + np.random.default_rng(3).normal(0, 0.05, 300)


def test_a_failing_progress_callback_raises_with_the_front_so_far():
    def callback(info):
        if info["size"] >= 4:
            raise RuntimeError("display gone")

    with pytest.raises(RuntimeError, match="display gone") as info:
        discover(*slow_problem(), max_size=30, time_limit=60, progress=callback)
    d = info.value.discovery
    assert isinstance(d, Discovery) and d.stopped == "interrupted" and d.equations
    assert ".discovery" in info.value.__notes__[0]


@pytest.mark.parametrize("where", ["X", "y"])
def test_masked_cells_are_missing_values(where):
    X = np.ma.masked_array(X1.copy(), mask=X1 > 2.95)
    y = np.ma.masked_array(2 * X1, mask=X1 > 2.95)
    X, y = (X, 2 * X1) if where == "X" else (X1, y)
    with pytest.raises(ValueError, match=f"{where} has NaN or infinite values in .*row 19\\)?; pass "
                                         "drop_nonfinite=True"):
        discover(X, y, max_size=3, progress=False)
    with pytest.warns(UserWarning, match="dropped 1 of 20 rows"):
        d = discover(X, y, max_size=3, progress=False, drop_nonfinite=True)
    assert (d.n_samples, d.dropped_rows, d.best.formula) == (19, 1, "2 * x")
    if where == "X":
        assert np.isnan(d.best.predict(X)[19]) and d.best.predict(X)[0] == 2.0


@pytest.mark.parametrize("kwargs, message", [
    ({"X": [[10**400], [1], [2]]}, "X column 0 holds an integer too large for a double"),
    ({"y": [10**400, 1, 2]}, "y holds an integer too large for a double"),
    ({"sample_weight": [10**400, 1, 2]}, "sample_weight holds an integer too large"),
    ({"constants": [10**400]}, "constants: an integer of about 401 digits is too large"),
    ({"time_limit": 10**400}, "time_limit: an integer of about 401 digits is too large"),
    ({"max_evaluations": 2**64}, r"max_evaluations must be at most 18446744073709551615 \(2\*\*"),
    ({"memory_limit": 10**5000}, "memory_limit must be at most .* got an integer of about 5001"),
    ({"n_threads": 2**64}, "n_threads must be at most"),
    ({"max_rows": 2**64}, "max_rows must be at most"),
])
def test_integers_beyond_the_doubles_name_their_argument(kwargs, message):
    args = {"X": [[0.5], [1.0], [2.0]], "y": [1.0, 2.0, 4.0], **kwargs}
    with pytest.raises(ValueError, match=message):
        discover(args.pop("X"), args.pop("y"), max_size=2, progress=False, **args)


def test_targets_near_the_largest_doubles_give_a_front_that_saves_and_loads(tmp_path):
    # The constants fitted are near 1e308 and each squared error overflows, the rmse does not.
    d = discover([1.0, 2.0, 3.0], [1e308, -1e308, 1.5e308], max_size=3, progress=False)
    assert d.equations and all(np.isfinite(e.rmse) for e in d.equations)
    d.save(tmp_path / "run.json")
    assert load(tmp_path / "run.json") == d


def test_a_dataframe_is_read_by_name():
    eq = Equation.from_parts([("var", 0), ("var", 1), ("op", "sub")], 1.0, 0.0, ["a", "b"])
    assert eq.predict(pd.DataFrame({"b": [5.0], "c": [0.0], "a": [1.0]})).tolist() == [-4.0]
    with pytest.raises(ValueError, match=r"X has no column 'b'; the equation reads a, b "
                                         r"\(X has 'a', 'bb'\)"):
        eq.predict(pd.DataFrame({"a": [1.0], "bb": [5.0]}))
    # Without names there is nothing to read by: the columns in order.
    assert eq.predict(pd.DataFrame([[1.0, 5.0]])).tolist() == [-4.0]


def fitted_state(model):
    return {k: v for k, v in vars(model).items() if k.endswith("_")}


@pytest.mark.parametrize("X, y, settings", [
    (np.ones((6, 2)), np.arange(6.0), {"max_size": 0}),          # refused after X is read
    (X1.reshape(-1, 1), np.where(X1 > 2, 1e200, -1e200), {"scaling": False}),  # nothing found
])
def test_a_failed_fit_leaves_the_estimator_as_it_was(X, y, settings):
    model = VOKRegressor(max_size=4).fit(X1.reshape(-1, 1), 3 * X1)
    before = fitted_state(model)
    with pytest.raises(ValueError):
        model.set_params(**settings).fit(X, y)
    assert fitted_state(model) == before
    assert model.set_params(max_size=4, scaling=True).predict([[2.0]]).tolist() == [6.0]
    fresh = VOKRegressor(**{"max_size": 4, **settings})
    with pytest.raises(ValueError):
        fresh.fit(X, y)
    assert fitted_state(fresh) == {}


def test_score_refuses_rows_without_a_value_and_big_integers_are_named():
    model = VOKRegressor(max_size=3, operators=["ln"]).fit(X1.reshape(-1, 1), np.log(X1))
    assert model.best_.formula == "log(x0)"
    with pytest.raises(ValueError, match=r"cannot score: the best equation, log\(x0\), has no "
                                         r"value on 2 of 3 rows of X \(rows 0, 2\)"):
        model.score([[-1.0], [1.0], [0.0]], [0.0, 0.0, 0.0])
    assert model.score(X1.reshape(-1, 1), np.log(X1)) == 1.0
    with pytest.raises(ValueError, match="X holds an integer too large for a double"):
        VOKRegressor().fit([[10**400], [1], [2]], [1, 2, 3])


def hostile_files(state):
    eq = state["equations"][0]
    good = json.dumps(state)
    return [
        (json.dumps(dict(state, n_samples=10**400)), "field 'n_samples' has a bad value 1000"),
        (json.dumps(dict(state, noise_floor=10**400)), "field 'noise_floor' has a bad value"),
        (good.replace('"n_samples": 20', '"n_samples": ' + "9" * 5000), "corrupt or truncated"),
        ('{"format": "vok_math.discovery", "version": 1, "names": ' + "[" * 100_000
         + "]" * 100_000 + "}", "nested too deeply"),
        (good.replace('"x"', '"\udcff"', 1), "not UTF-8 text: byte 0xff"),
        (json.dumps(dict(state, evaluations=-3)), "field 'evaluations' has a bad value -3"),
        (json.dumps(dict(state, sizes=[dict(state["sizes"][0], candidates=-1)])),
         "field 'candidates' has a bad value -1 (in sizes[0]; expected an integer"),
        (json.dumps(dict(state, equations=[dict(eq, rmse=-1.0)])),
         "field 'rmse' has a bad value -1.0 (in equations[0]; expected a finite number of at "
         "least 0)"),
        (json.dumps(dict(state, equations=[dict(eq, rmse=float("inf"))])), "bad value inf"),
        (json.dumps(dict(state, equations=[dict(eq, program=[["const", 10**400]])])),
         "field 'program' has a bad value"),
        (json.dumps(dict(state, settings=dict(state["settings"], max_size="ten"))),
         "field 'max_size' has a bad value 'ten' (in settings; expected an integer from 1 to 30)"),
        (json.dumps(dict(state, settings=dict(state["settings"], unary=["pow"]))),
         "field 'unary' has a bad value ['pow']"),
        (json.dumps(dict(state, settings=dict(state["settings"], bogus=1))),
         "unknown field 'bogus' in settings"),
        (json.dumps(dict(state, settings=[1, 2])), "expected a JSON object"),
        (json.dumps(dict(state, sizes=[5])), "sizes[0] is not a JSON object"),
        (json.dumps(dict(state, best=None)), "bad best equation index None"),
    ]


def test_hostile_files_are_one_value_error_naming_the_file(saved, tmp_path):
    bad = tmp_path / "bad.json"
    for text, reason in hostile_files(saved):
        bad.write_bytes(text.encode("utf-8", "surrogateescape"))
        with pytest.raises(ValueError) as info:
            load(bad)
        assert str(info.value).startswith(f"{bad}: ") and reason in str(info.value), reason
        assert len(str(info.value)) < 300
