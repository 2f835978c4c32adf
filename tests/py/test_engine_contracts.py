"""What the engine states once for the Python layer: its settings and operators, and the entries
that evaluate, settle constants, refit a front and merge a split run, each checked bit for bit
against what the Python layer computes and against the unsplit, whole-row search."""
import inspect
import re

import numpy as np
import pytest

from conftest import SANITIZED
from vok_math import _engine as eng
from vok_math import export, operators, slices

RNG = np.random.default_rng(11)
X = RNG.uniform(0.5, 3.0, (2, 600))
Y = np.exp(-X[0]) * X.sum(axis=0) + 0.1 * np.sin(X[1])
SHIFTED = X - 1.0  # some rows without a value for ln, sqrt, inv
EXACT = ("size", "complete", "candidates", "no_value", "duplicates", "distinct", "scored")
# Rows without a value in the first chunk, in a later one, everywhere, nowhere.
PROGRAMS = [[("var", 0)], [("var", 0), ("op", "ln")], [("var", 1), ("const", 0.0), ("op", "div")],
            [("var", 0), ("var", 1), ("op", "vok"), ("op", "sin")], [("const", 1.0)],
            [("var", 1), ("op", "sqrt"), ("var", 0), ("op", "mul"), ("op", "exp")]]
SMALL = eng.enumerate(X[:, :40], Y[:40], max_size=3, front_size=2)


def exact(result):
    return (result["front"], [{k: r[k] for k in EXACT} for r in result["sizes"]],
            result["stopped"], result["evaluations"])


SETTINGS = ("max_size=8, unary=('neg', 'inv', 'exp', 'ln', 'sqrt', 'sin', 'cos'), "
            "binary=('add', 'sub', 'mul', 'div', 'vok'), constants=(0.0, 1.0), scaling=True, "
            "front_size=1, beam_width=500, max_evaluations=0, time_limit=0.0, memory_limit=0, "
            "target_rmse=-1.0, n_threads=0, progress=None, dedup_drop_bits=16, max_rows=0, weights=()")


@pytest.mark.parametrize("entry, leading", [(eng.enumerate, "columns, y, split=False"),
                                            (eng.enumerate_slice, "columns, y, state, begin, end")])
def test_the_signatures_show_the_defaults(entry, leading):
    assert str(inspect.signature(entry)) == f"({leading}, {SETTINGS})"
    assert list(inspect.signature(entry).parameters)[-len(eng.DEFAULTS):] == list(eng.DEFAULTS)


def test_the_defaults_are_what_the_engine_uses_unasked():
    columns, y = X[:, :40], Y[:40]
    assert exact(eng.enumerate(columns, y, **{**eng.DEFAULTS, "max_size": 4})) == \
        exact(eng.enumerate(columns, y, max_size=4))


@pytest.mark.parametrize("settings, error, text", [
    ({"n_threads": 1025}, ValueError, "n_threads must be at most 1024"),
    ({"progress": 3}, TypeError, "progress must be callable or None"),
    ({"scaling": 1}, TypeError, "argument 'scaling': 'int' object cannot be converted to 'PyBool'"),
    ({"max_rows": -1}, OverflowError, "can't convert negative int to unsigned"),
    ({"binary": "add"}, TypeError, "binary must be a sequence of operator names, not a str"),
])
def test_each_setting_is_read_by_the_kind_of_its_field(settings, error, text):
    with pytest.raises(error, match=re.escape(text)):
        eng.enumerate(X, Y, **settings)


def test_the_operator_table_is_the_python_layers():
    names = {a: tuple(o["name"] for o in eng.OPERATORS if o["arity"] == a) for a in (1, 2)}
    assert (names[1], names[2]) == (export.UNARY_OPS, export.BINARY_OPS)
    # The package spells every engine operator and no other.
    assert set(operators._SPELLINGS) == set(names[1] + names[2])
    assert {o["name"]: o["symbol"] for o in eng.OPERATORS if o["symbol"]} == {
        "add": "+", "sub": "-", "mul": "*", "div": "/"}


@pytest.mark.parametrize("op", [o for o in eng.OPERATORS if o["arity"] == 2], ids=lambda o: o["name"])
def test_an_operator_is_commutative_when_swapped_operands_give_the_same_bits(op):
    ab, ba = (np.array(eng.evaluate([("var", i), ("var", 1 - i), ("op", op["name"])], X)) for i in (0, 1))
    assert (ab.tobytes() == ba.tobytes()) == op["commutative"]


def test_evaluate_many_gives_evaluates_bits_for_every_program():
    views = eng.evaluate_many(PROGRAMS, SHIFTED)
    assert len(views) == len(PROGRAMS) and all(v.format == "d" and v.readonly for v in views)
    for view, program in zip(views, PROGRAMS, strict=True):
        assert np.asarray(view).tobytes() == np.array(eng.evaluate(program, SHIFTED)).tobytes()
    assert eng.evaluate_many([], X) == [] and len(eng.evaluate_many(PROGRAMS, [[], []])[0]) == 0


@pytest.mark.parametrize("seed", range(3))
@pytest.mark.parametrize("scaling", [True, False])
def test_settle_sums_as_numpy_sums_in_row_order(seed, scaling):
    rng = np.random.default_rng(seed)
    y = Y * 10.0 ** rng.uniform(-3, 3) + rng.normal(size=Y.size)
    program = PROGRAMS[rng.integers(len(PROGRAMS))]
    fitted = eng.fit(program, X, y, scaling)
    constants = [(1.0, 0.0), (0.0, 0.0), (1e300, 1e300), *map(tuple, rng.normal(size=(4, 2)))]
    if fitted:
        constants.append(fitted[1:])
    got = eng.settle(program, X, y, constants, scaling)
    f = np.array(eng.evaluate(program, X))
    with np.errstate(all="ignore"):  # discover()'s sums, as it takes them today
        want = [np.cumsum((((s * f) + o) - y) ** 2)[-1] for s, o in constants]
    np.testing.assert_array_equal(got["sse"], want)  # exact; NaN where f has none
    assert got["fit"] == fitted and (not fitted or got["sse"][-1] == fitted[0])
    with np.errstate(all="ignore"):
        assert np.isnan(eng.settle(PROGRAMS[1], SHIFTED, y, [(1.0, 0.0)])["sse"][0])


def split_run(columns, y, settings, n_slices):
    local = eng.enumerate(columns, y, split=True, **settings)
    plan = local.pop("split")
    bounds = slices.slice_bounds(plan["slots"], plan["segment"], n_slices)
    parts = [eng.enumerate_slice(columns, y, plan["state"], b, e, **settings) for b, e in bounds]
    return local, plan["size"], parts


@pytest.mark.parametrize("settings, n_slices", [
    (dict(max_size=7, front_size=3), 6),
    (dict(max_size=7, front_size=5, scaling=False), 2),
    (dict(max_size=6, front_size=2, unary=["neg", "exp"], constants=[1.0, 2.0]), 1),
])
def test_merge_slices_is_the_unsplit_search(settings, n_slices):
    columns, y = X[:1, :30], Y[:30]
    local, size, parts = split_run(columns, y, settings, n_slices)
    k = settings["front_size"]
    merged = eng.merge_slices(local, size, parts, k, 0.25, True)
    assert exact(merged) == exact(eng.enumerate(columns, y, **settings))
    assert eng.merge_slices(local, size, parts[::-1], k, 0.25, True) == merged
    assert eng.merge_slices(local, size, parts[-1:], k, 0.5, False)["stopped"] == "interrupted"


@pytest.mark.parametrize("scaling", [True, False])
def test_refit_is_the_engines_own_refit(scaling):
    columns = X[:, :120].copy()
    y = np.sqrt(columns[1]) * columns[0] + RNG.normal(scale=0.05, size=120)
    columns[1, 1] = -1.0  # a row outside the subset where sqrt(x1) has no value
    rows = np.arange(40) * 120 // 40
    settings = dict(max_size=5, front_size=4, scaling=scaling)
    sub = eng.enumerate(columns[:, rows], y[rows], **settings)["front"]
    refit = eng.refit(sub, columns, y, scaling)
    assert len(refit) < len(sub)
    assert refit == eng.enumerate(columns, y, max_rows=40, **settings)["front"]


MEMBER = SMALL["front"][0]
REFUSALS = {
    "unknown variable": (lambda: eng.evaluate_many([[("var", 0)], [("var", 2)]], X), ValueError,
                         "programs[1]: the program reads variable 2 of 2"),
    "unknown operator": (lambda: eng.evaluate_many([[("op", "pow")]], X), ValueError,
                         "programs[0]: program token 0: unknown operator"),
    "short y": (lambda: eng.settle([("var", 0)], X, Y[:5], []), ValueError,
                "columns and y must all have the same length"),
    "one constant": (lambda: eng.settle([("var", 0)], X, Y, [(1.0,)]), ValueError,
                     "expected tuple of length 2, but got tuple of length 1"),
    "no program": (lambda: eng.refit([{"size": 1}], X, Y), KeyError, "program"),
    "member's variable": (lambda: eng.refit([dict(MEMBER, program=(("var", 5),))], X, Y), ValueError,
                          "front[0]: the program reads variable 5 of 2"),
    "no slice": (lambda: eng.merge_slices(SMALL, 3, [], 1, 0.0, True), ValueError,
                 "there is no slice to merge"),
    "slice without report": (lambda: eng.merge_slices(SMALL, 3, [dict(SMALL, sizes=[])], 1, 0.0, True),
                             ValueError, "a slice's result has no size report"),
}


@pytest.mark.parametrize("name", list(REFUSALS))
def test_the_new_entries_refuse_with_what_is_wrong(name):
    call, error, text = REFUSALS[name]
    with pytest.raises(error, match=re.escape(text)):
        call()


@pytest.mark.skipif(SANITIZED, reason="counters are noisy and slow under ASan")
@pytest.mark.parametrize("name", ["evaluate_many", "settle", "refit", "merge_slices", *REFUSALS])
def test_the_new_entries_do_not_leak(name):
    from test_leaks import growing_counters

    calls = {"evaluate_many": lambda: eng.evaluate_many(PROGRAMS, SHIFTED[:, :50]),
             "settle": lambda: eng.settle(PROGRAMS[3], X, Y, [(1.0, 0.0), (2.0, 1.0)]),
             "refit": lambda: eng.refit(SMALL["front"], X, Y),
             "merge_slices": lambda: eng.merge_slices(SMALL, 3, [SMALL, SMALL], 2, 0.0, True)}
    def refused():
        with pytest.raises(REFUSALS[name][1]):
            REFUSALS[name][0]()

    call = calls.get(name) or refused
    assert growing_counters(call, [X, Y, SMALL, MEMBER, *PROGRAMS]) == []
