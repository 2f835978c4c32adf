"""The enumeration entry vok_math._engine: refusals, exact predictions, the interpreter lock
and Ctrl-C."""
import math
import threading

import numpy as np
import pytest

from conftest import SANITIZED, run_python
from vok_math import _engine as eng

RNG = np.random.default_rng(5)
X = RNG.uniform(1.0, 5.0, (2, 60))
Y = 0.5 * X[0] * X[1] ** 2


@pytest.mark.parametrize("columns, y, settings, error", [
    ([], [1.0, 2.0], {}, "at least one variable"),
    ([[1.0]], [1.0], {}, "at least 2 rows"),
    ([[1.0, 2.0, 3.0]], [1.0, 2.0], {}, "column 0 has 3 values"),
    ([[1.0, math.nan]], [1.0, 2.0], {}, "column 0 holds a value that is not finite"),
    ([[1.0, 2.0]], [1.0, math.inf], {}, "y holds a value that is not finite"),
    ([[1.0, 2.0]], [1.0, 2.0], {"max_size": 0}, "max_size must be between 1 and 30"),
    ([[1.0, 2.0]], [1.0, 2.0], {"max_size": 10**6}, "max_size must be between 1 and 30"),
    ([[1.0, 2.0]], [1.0, 2.0], {"unary": ["sin", "add"]}, "unknown unary operator 'add'"),
    ([[1.0, 2.0]], [1.0, 2.0], {"binary": ["pow"]}, "unknown binary operator 'pow'"),
    ([[1.0, 2.0]], [1.0, 2.0], {"unary": ["sin", "sin"]}, "must not repeat"),
    ([[1.0, 2.0]], [1.0, 2.0], {"time_limit": -1.0}, "time_limit must be"),
    ([[1.0, 2.0]], [1.0, 2.0], {"constants": [math.nan]}, "constants must be finite"),
])
def test_bad_input_is_refused_before_any_work(columns, y, settings, error):
    with pytest.raises(ValueError, match=error):
        eng.enumerate(columns, y, **settings)


@pytest.mark.parametrize("scaling", [True, False])
def test_evaluate_reproduces_every_reported_error_to_the_bit(scaling):
    result = eng.enumerate(X, Y, max_size=5, front_size=2, scaling=scaling)
    assert result["stopped"] == "complete"
    assert [m["size"] for m in result["front"]] == [1, 1, 2, 2, 3, 3, 4, 4, 5, 5]
    for member in result["front"]:
        f = np.array(eng.evaluate(member["program"], X))
        residual = Y - (member["scale"] * f + member["offset"])
        sse = np.cumsum(residual * residual)[-1]  # row order, like the engine
        assert sse == member["sse"]
        assert math.sqrt(sse / len(Y)) == member["rmse"]
    if scaling:  # 0.5 * x * y**2 is then of size 5
        assert result["front"][-2]["program"] == (
            ("var", 0), ("var", 1), ("var", 1), ("op", "mul"), ("op", "mul"))


def test_a_search_on_a_subset_of_rows_reports_errors_on_every_row():
    noisy = Y + RNG.normal(scale=0.1, size=60)
    result = eng.enumerate(X, noisy, max_size=4, front_size=3, max_rows=20)
    for member in result["front"]:
        f = np.array(eng.evaluate(member["program"], X))
        residual = noisy - (member["scale"] * f + member["offset"])
        assert np.cumsum(residual * residual)[-1] == member["sse"]
    sizes = [m["size"] for m in result["front"]]
    assert sizes == sorted(sizes)
    with pytest.raises(ValueError, match="split"):
        eng.enumerate(X, Y, max_size=4, max_rows=20, split=True)


def test_evaluate_gives_nan_where_a_formula_has_no_value():
    values = eng.evaluate([("var", 0), ("op", "ln")], [[2.0, 0.0, -1.0]])
    assert values[0] == math.log(2.0) and math.isnan(values[1]) and math.isnan(values[2])
    with pytest.raises(ValueError, match="reads variable 1"):
        eng.evaluate([("var", 1)], [[1.0]])
    with pytest.raises(ValueError, match="malformed"):
        eng.evaluate([("var", 0), ("op", "add")], [[1.0]])


def test_other_threads_run_while_the_workers_search():
    ticks = []
    done = threading.Event()

    def count():
        while not done.is_set():
            ticks.append(1)

    thread = threading.Thread(target=count)
    thread.start()
    try:
        eng.enumerate(X, RNG.normal(size=60), max_size=7, scaling=False)
    finally:
        done.set()
        thread.join()
    assert len(ticks) > 1000


def test_a_failing_progress_callback_ends_the_search_with_its_error():
    seen = []

    def progress(info):
        seen.append(sorted(info))
        raise KeyError("stop")

    with pytest.raises(KeyError, match="stop"):
        eng.enumerate(X, Y, max_size=7, progress=progress)
    assert seen == [["best_rmse", "done", "elapsed", "expected", "size"]]


def test_ctrl_c_returns_the_front_so_far_marked_interrupted():
    out = run_python("""
import os, signal, threading, time
import numpy as np
from vok_math import _engine as eng
rng = np.random.default_rng(1)
x, y = rng.uniform(1, 5, (3, 300)), rng.normal(size=300)
threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT)).start()
start = time.perf_counter()
r = eng.enumerate(x, y, max_size=12)
late = time.perf_counter() - start - 1.0
again = eng.enumerate(x[:1], y, max_size=3)
print(r["stopped"], len(r["front"]) > 0, late < 1.0, again["stopped"])
""", timeout=120)
    assert out.returncode == 0, out.stderr
    words = out.stdout.split()
    assert words[:2] == ["interrupted", "True"] and words[3] == "complete"
    assert words[2] == "True" or SANITIZED  # within a second, unless everything runs slowly
