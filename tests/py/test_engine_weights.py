"""The engine's weighted least squares, and its search on a subset of the rows: weights that
change nothing give the unweighted bits, rows of weight 0 take no part, every entry weighs as
the search does, and a target met on the subset only does not end the search."""
import re

import numpy as np
import pytest

from vok_math import _engine as eng

RNG = np.random.default_rng(3)
X = RNG.uniform(0.5, 3.0, (2, 300))
Y = np.exp(-X[0]) * X[1] + 0.05 * RNG.normal(size=300)
W = RNG.uniform(0.0, 3.0, 300) * (RNG.uniform(size=300) > 0.2)  # a fifth of the rows weigh 0
EXACT = ("size", "complete", "candidates", "no_value", "duplicates", "distinct", "scored")


def exact(result):
    return (result["front"], [{k: r[k] for k in EXACT} for r in result["sizes"]],
            result["stopped"], result["evaluations"])


@pytest.mark.parametrize("scaling", [True, False])
def test_weights_that_change_nothing_give_the_unweighted_bits(scaling):
    settings = dict(max_size=6, front_size=3, scaling=scaling)
    plain = eng.enumerate(X, Y, **settings)
    assert exact(eng.enumerate(X, Y, weights=np.ones(300), **settings)) == exact(plain)
    # Weights of 4 multiply every error by 4 exactly and leave every fit as it was.
    quadruple = eng.enumerate(X, Y, weights=[4.0] * 300, **settings)["front"]
    assert quadruple == [dict(m, sse=4 * m["sse"]) for m in plain["front"]]


@pytest.mark.parametrize("settings", [dict(max_size=6, front_size=2),
                                      dict(max_size=6, front_size=3, scaling=False),
                                      dict(max_size=7, max_rows=60, target_rmse=1e-3)])
def test_rows_of_weight_zero_take_no_part_with_any_worker_count(settings):
    wild = np.where(W > 0, Y, 1e6)
    one = eng.enumerate(X, Y, weights=W, n_threads=1, **settings)
    assert exact(eng.enumerate(X, wild, weights=W, n_threads=2, **settings)) == exact(one)
    assert exact(one) != exact(eng.enumerate(X, Y, **settings))


@pytest.mark.parametrize("scaling", [True, False])
def test_fit_settle_and_refit_weigh_as_the_search_does(scaling):
    front = eng.enumerate(X, Y, max_size=5, front_size=3, scaling=scaling, weights=W)["front"]
    assert eng.refit(front, X, Y, scaling, weights=W) == front
    for m in front:
        assert m["rmse"] == np.sqrt(m["sse"] / np.cumsum(W)[-1])
        fitted = eng.fit(m["program"], X, Y, scaling, weights=W)
        assert fitted == (m["sse"], m["scale"], m["offset"])
        settled = eng.settle(m["program"], X, Y, [(m["scale"], m["offset"]), (2.0, -1.0)], scaling,
                             weights=W)
        f = np.array(eng.evaluate(m["program"], X))
        r2 = (Y - ((2.0 * f) + -1.0)) ** 2
        assert settled["sse"] == [m["sse"], np.cumsum(np.where(W > 0, W * r2, 0.0))[-1]]


def test_a_split_weighted_search_is_the_whole_one():
    columns, y, w = X[:1, :30], Y[:30], W[:30]
    settings = dict(max_size=7, front_size=3, weights=w)
    local = eng.enumerate(columns, y, split=True, **settings)
    plan = local.pop("split")
    parts = [eng.enumerate_slice(columns, y, plan["state"], b, min(b + plan["segment"], plan["slots"]),
                                 **settings) for b in range(0, plan["slots"], plan["segment"])]
    merged = eng.merge_slices(local, plan["size"], parts, 3, 0.0, True)
    assert exact(merged) == exact(eng.enumerate(columns, y, **settings))
    with pytest.raises(ValueError, match="made with other data or settings"):
        eng.enumerate_slice(columns, y, plan["state"], 0, plan["segment"], **dict(settings, weights=w + 1))


BAD = {"short": (W[:-1], "weights has 299 values, y has 300"),
       "negative": (np.where(np.arange(300) == 3, -1.0, W), "weights must be finite and non-negative "
                                                            "(row 3 is -1.0)"),
       "nan": (np.where(np.arange(300) == 7, np.nan, W), "(row 7 is NaN)"),
       "infinite": (np.where(np.arange(300) == 0, np.inf, W), "(row 0 is inf)"),
       "zero": (np.zeros(300), "weights must not all be zero"),
       "overflowing": (np.full(300, 1e308), "weights must have a finite sum")}


@pytest.mark.parametrize("entry", ["enumerate", "refit", "settle"])
@pytest.mark.parametrize("name", list(BAD))
def test_bad_weights_are_refused_with_what_is_wrong(entry, name):
    weights, text = BAD[name]
    call = {"enumerate": lambda: eng.enumerate(X, Y, max_size=2, weights=weights),
            "refit": lambda: eng.refit([], X, Y, weights=weights),
            "settle": lambda: eng.settle([("var", 0)], X, Y, [], weights=weights)}[entry]
    with pytest.raises(ValueError, match=re.escape(text)):
        call()


def test_subset_rows_are_the_rows_max_rows_searches():
    rows = eng.subset_rows(300, 70)
    assert eng.subset_rows(300, 0) == eng.subset_rows(300, 300) == list(range(300))
    sub = eng.enumerate(X[:, rows], Y[rows], max_size=5, front_size=4, weights=W[rows])["front"]
    assert eng.refit(sub, X, Y, weights=W) == \
        eng.enumerate(X, Y, max_size=5, front_size=4, max_rows=70, weights=W)["front"]


@pytest.mark.parametrize("weights", [None, W + 0.5])
def test_a_fit_exact_on_the_searched_rows_only_does_not_meet_the_target(weights):
    x = X[:1]
    law = x[0] * x[0] + 1.0
    elsewhere = np.ones(300, dtype=bool)
    elsewhere[eng.subset_rows(300, 50)] = False
    settings = dict(max_size=6, max_rows=50, target_rmse=1e-9, weights=weights)
    assert eng.enumerate(x, law, **settings)["stopped"] == "target"
    perturbed = eng.enumerate(x, np.where(elsewhere, law + 0.1 * np.sin(7 * x[0]), law), **settings)
    assert perturbed["stopped"] == "complete" and len(perturbed["sizes"]) == 6
