"""Searches on a Dask cluster: the same results as in one process, a lost worker included."""

import math
import os
import signal
from collections import Counter

import numpy as np
import pytest

from conftest import SANITIZED, run_python

distributed = pytest.importorskip("distributed")
pytestmark = pytest.mark.skipif(SANITIZED, reason="worker processes under the sanitizer are too slow")

from vok_math import _engine, discover  # noqa: E402
from vok_math.distributed import discover_many, enumerate_split  # noqa: E402

# Fields of a size report that do not depend on timing or on how the work was cut.
EXACT_FIELDS = ("size", "complete", "candidates", "no_value", "duplicates", "distinct", "scored")


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as c:
        yield c


def samples(n_vars, rows=30, seed=0):
    rng = np.random.default_rng(seed)
    X = rng.uniform(0.5, 3.0, size=(rows, n_vars))
    return np.ascontiguousarray(X.T), np.exp(-X[:, 0]) * X.sum(axis=1) + 0.1 * np.sin(X[:, -1])


def exact(result):
    return (result["front"], [{k: r[k] for k in EXACT_FIELDS} for r in result["sizes"]],
            result["stopped"], result["evaluations"])


@pytest.mark.parametrize("n_vars, rows, settings, slices", [
    (1, 30, dict(max_size=7, front_size=3), None),        # six segments, a slice per worker
    (1, 30, dict(max_size=7, front_size=5, scaling=False), 6),
    (2, 30, dict(max_size=6, front_size=2, unary=["neg", "exp"], constants=[1.0, 2.0]), 1),
    (1, 30, dict(max_size=1, front_size=2), None),       # nothing below the largest size
    (1, 30, dict(max_size=7, target_rmse=10.0), None),   # the target stops it before the split
    (1, 301, dict(max_size=6, front_size=3, max_rows=100), 3),  # searched on a subset of rows
    (2, 301, dict(max_size=5, front_size=3, max_rows=90, scaling=False), None),
])
def test_split_largest_size_gives_the_local_result(client, n_vars, rows, settings, slices):
    columns, y = samples(n_vars, rows)
    split = enumerate_split(client, columns, y, settings, slices=slices)
    assert exact(split) == exact(_engine.enumerate(columns, y, **settings))


def test_a_weighted_split_on_a_subset_of_rows_gives_the_local_result(client):
    columns, y = samples(1, 301)
    settings = dict(max_size=6, front_size=3, max_rows=100, weights=np.linspace(0.0, 2.0, 301))
    split = enumerate_split(client, columns, y, settings, slices=3)
    assert exact(split) == exact(_engine.enumerate(columns, y, **settings))


def test_discover_with_a_client_splits_and_refuses_an_evaluation_budget(client):
    columns, y = samples(1)
    settings = dict(max_size=7, time_limit=math.inf, progress=False)
    local = discover(columns.T, y, **settings)
    split = discover(columns.T, y, client=client, **settings)
    assert split.equations == local.equations
    assert split._candidates == local._candidates
    with pytest.raises(ValueError, match="evaluation budget"):
        discover(columns.T, y, client=client, max_evaluations=1000, **settings)


def test_many_searches_give_the_local_results_and_keep_errors_in_their_slots(client):
    x = np.linspace(0.5, 3.0, 25)
    problems = [(x, np.sqrt(x) * 3), (x, x[:3]), {"X": x, "y": np.exp(-x), "names": ["t"]},
                "not a problem", (np.column_stack([x, x[::-1]]), x * x[::-1] + 1)]
    settings = dict(max_size=6, time_limit=math.inf, progress=False)
    local = discover_many(problems, **settings)
    remote = discover_many(problems, client=client, **settings)
    for a, b in zip(local, remote, strict=True):
        if isinstance(a, Exception):
            assert type(a) is type(b) and str(a) == str(b)
        else:
            assert (a.equations, a._candidates) == (b.equations, b._candidates)
    assert [type(r).__name__ for r in remote] == ["Discovery", "ValueError", "Discovery",
                                                  "TypeError", "Discovery"]
    with pytest.raises(ValueError, match="rows but y has 3"):
        discover_many(problems, client=client, errors="raise", **settings)


def test_ctrl_c_during_the_split_returns_the_front_so_far(client):
    columns, y = samples(1)
    settings = dict(max_size=7, front_size=2)

    def interrupt(info):
        if info["size"] == settings["max_size"]:
            raise KeyboardInterrupt

    split = enumerate_split(client, columns, y, settings, progress=interrupt, slices=6)
    local = _engine.enumerate(columns, y, **settings)
    last = split["sizes"][-1]
    assert split["stopped"] == "interrupted" and not last["complete"]
    assert 0 < last["candidates"] < local["sizes"][-1]["candidates"]
    assert split["front"][:-2] == local["front"][:-2]  # the smaller sizes are whole


def slices_run_twice(dask_scheduler):
    runs = Counter(t.key for t in dask_scheduler.transition_log
                   if t.finish == "processing" and str(t.key).startswith("vok-slice-"))
    return [key for key, n in runs.items() if n > 1]


def test_a_slice_lost_with_its_worker_is_recomputed(client):
    columns, y = samples(1, rows=300)
    settings = dict(max_size=7, front_size=4)
    pids = client.run(os.getpid)
    killed = []

    def kill_one(info):
        # When the first slice is back, each worker holds another, running or finished.
        if info["size"] == settings["max_size"] and not killed:
            killed.append(min(pids.values()))
            os.kill(killed[0], signal.SIGKILL)

    split = enumerate_split(client, columns, y, settings, progress=kill_one, slices=6)
    assert killed and client.run_on_scheduler(slices_run_twice)
    assert exact(split) == exact(_engine.enumerate(columns, y, **settings))


def test_dask_is_imported_only_for_a_client():
    out = run_python("import sys, numpy as np\n"
                     "from vok_math.distributed import discover_many\n"
                     "x = np.linspace(1, 2, 10)\n"
                     "discover_many([(x, x)], max_size=3, progress=False)\n"
                     "print(sorted(m for m in ('dask', 'distributed') if m in sys.modules))")
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "[]"


def test_a_target_met_on_the_subset_alone_does_not_stop_a_split_search(client):
    # x * x on the rows max_rows searches, something else on the rest: the search must go on
    # past the size where the subset is fitted exactly, as it does in one process.
    columns, _ = samples(1, 301)
    y = columns[0] * columns[0]
    rows = _engine.subset_rows(301, 100)
    off = np.setdiff1d(np.arange(301), rows)
    y[off] += 0.5 * np.sin(7 * columns[0][off])
    settings = dict(max_size=6, front_size=2, max_rows=100, target_rmse=1e-9)
    local = _engine.enumerate(columns, y, **settings)
    assert local["stopped"] == "complete"
    assert exact(enumerate_split(client, columns, y, settings, slices=2)) == exact(local)
