"""One search's largest size in slices of its candidates, run on a Dask cluster.

The largest size holds most of a search's work (the count of expressions grows about sevenfold
per token). The sizes below it run here; the largest size's candidates are cut into runs of
whole segments, each a task on a worker, and the slices' fronts merged as the engine ranks them,
so the result is bit for bit the local one.
"""

from __future__ import annotations

import math
import time
import uuid
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any, cast

import numpy as np
import numpy.typing as npt

from vok_math import _engine
from vok_math.cluster import RETRIES, checked_client, distributed_module
from vok_math.records import Candidate, EngineResult, ProgressCallback, SplitPlan

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["SLICES_PER_THREAD", "enumerate_split", "slice_bounds"]

# Slice tasks per worker thread. Every slice first rebuilds the smaller sizes from the state
# (about a third of their local time), so more slices than threads only buy balance and a
# smaller loss per lost worker at that price each.
SLICES_PER_THREAD = 1
# Settings a slice does not take: it runs its candidates to the end, on one thread, silently.
_UNBOUNDED = ("time_limit", "max_evaluations", "progress", "n_threads")

Data = tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]]


def _run_slice(data: Data, state: bytes, begin: int, end: int,
               settings: Mapping[str, Any]) -> EngineResult:
    """One slice on a worker: one engine thread per Dask thread, so workers do not oversubscribe."""
    columns, y = data
    return cast(EngineResult, _engine.enumerate_slice(columns, y, state, begin, end, n_threads=1,
                                                      **settings))


def slice_bounds(slots: int, segment: int, slices: int) -> list[tuple[int, int]]:
    """``slices`` runs of whole segments covering [0, slots), as even as segments allow.

    >>> slice_bounds(10, 4, 2)
    [(0, 4), (4, 10)]
    >>> slice_bounds(10, 4, 5)
    [(0, 4), (4, 8), (8, 10)]
    """
    n_segments = -(-slots // segment)
    n = max(1, min(slices, n_segments))
    edges = (np.arange(n + 1) * n_segments // n) * segment
    edges[-1] = slots
    return list(zip(edges[:-1].tolist(), edges[1:].tolist(), strict=True))


# Long for its docstring: the one reference of every parameter.
def enumerate_split(client: Client, columns: npt.ArrayLike, y: npt.ArrayLike,
                    settings: Mapping[str, Any], *,
                    progress: ProgressCallback | None = None,
                    slices: int | None = None, retries: int = RETRIES) -> EngineResult:
    """``_engine.enumerate(columns, y, **settings)`` with its largest size run on a cluster.

    The sizes below ``max_size`` run here. Their kept entries (operators and operands, a few
    bytes each; the workers recompute probe values from the data) are scattered once to every
    worker with the data; each task then enumerates a run of the largest size's candidates and
    returns its best few. The merge ranks them as the engine does, so the front is bit for bit
    the one of a local run.

    Parameters
    ----------
    client : dask.distributed.Client
        The cluster. Tasks use one engine thread each: give workers one Dask thread per core.
    columns, y : array-like
        The samples, as for ``_engine.enumerate`` (one column per variable).
    settings : mapping
        The engine's settings. ``time_limit`` bounds the local sizes only (the largest size is
        always enumerated completely); ``max_evaluations`` cannot be split and is refused.
        With ``max_rows``, longer data are searched on the engine's subset of rows and the
        front is fitted again on every row, as the engine does.
    progress : callable, optional
        Given the engine's progress dict during the local sizes, then after every slice.
    slices : int, optional
        Tasks for the largest size (default: one per worker thread). Each task first rebuilds
        the smaller sizes' values from the state, so more tasks cost more in total; they
        balance uneven workers and lose less with a lost worker.
    retries : int, default 2
        Retries of a slice whose run raised.

    Returns
    -------
    dict
        The engine's result. The largest size's report sums the slices' counts (``valid``
        depends on how candidates were pruned, and so on the slicing); its ``seconds`` is the
        wall time of the distributed stage. ``"cluster"`` says what was sent: ``slices``,
        ``workers``, ``state_bytes`` and ``data_bytes`` (each sent once to every worker).

    Examples
    --------
    >>> import numpy as np
    >>> from distributed import Client, LocalCluster
    >>> x = np.linspace(0.5, 3.0, 40)
    >>> settings = dict(max_size=5, front_size=2)
    >>> with LocalCluster(n_workers=1, processes=False) as cluster, Client(cluster) as client:
    ...     result = enumerate_split(client, [x], np.sqrt(x) / x, settings)
    >>> result["front"] == _engine.enumerate([x], np.sqrt(x) / x, **settings)["front"]
    True
    """
    cluster = checked_client(client)
    if settings.get("max_evaluations"):
        raise ValueError("an evaluation budget cannot be split across a cluster; pass "
                         "max_evaluations without a client, or time_limit (it bounds the "
                         "sizes below the largest)")
    start = time.perf_counter()
    columns = np.ascontiguousarray(columns, dtype=np.float64)
    y = np.ascontiguousarray(y, dtype=np.float64)
    max_rows = int(settings.get("max_rows", 0))
    if 0 < max_rows < len(y):
        # The engine's subset (evenly spread rows), searched whole on the cluster, then the
        # front fitted on every row: what the engine does with max_rows in one process.
        rows = np.asarray(_engine.subset_rows(len(y), max_rows), dtype=np.int64)
        subset = {**settings, "max_rows": 0}
        weights = settings.get("weights")
        if weights is not None and len(weights):
            _engine.refit([], columns, y, weights=weights)  # the engine's check, before any work
            weights = np.ascontiguousarray(weights, dtype=np.float64)
            subset["weights"] = weights[rows]
        result = enumerate_split(cluster, columns[:, rows], y[rows], subset,
                                 progress=progress, slices=slices, retries=retries)
        front = _engine.refit(cast(Any, result["front"]), columns, y,
                              bool(settings.get("scaling", True)), weights=weights)
        if result["stopped"] == "target" and not _meets_target(front, result, settings):
            # Exact on the subset alone: the search goes on past the target, as one process
            # goes on until a fit meets it on every row (within what is left of the time).
            limit = float(settings.get("time_limit", 0.0))
            left = max(limit - (time.perf_counter() - start), 1e-3) if limit > 0 else 0.0
            result = enumerate_split(cluster, columns[:, rows], y[rows],
                                     {**subset, "target_rmse": -1.0, "time_limit": left},
                                     progress=progress, slices=slices, retries=retries)
            result["elapsed"] = time.perf_counter() - start
            front = _engine.refit(cast(Any, result["front"]), columns, y,
                                  bool(settings.get("scaling", True)), weights=weights)
        result["front"] = cast(list[Candidate], front)
        return result
    local = cast(EngineResult, _engine.enumerate(columns, y, split=True,
                                                 progress=cast(Any, progress), **settings))
    plan = local.pop("split", None)
    if plan is None or not plan["slots"]:
        return local  # finished before the largest size: this is the answer
    return _run_largest(cluster, (columns, y), local, plan, settings, progress, slices, retries,
                        start)


def _meets_target(front: Sequence[Mapping[str, Any]], result: EngineResult,
                  settings: Mapping[str, Any]) -> bool:
    """Whether a member of the size the search stopped at meets the target on every row."""
    last = result["sizes"][-1]["size"] if result["sizes"] else 0
    target = float(settings.get("target_rmse", -1.0))
    return any(m["size"] == last and m["rmse"] <= target for m in front)


def _run_largest(cluster: Any, data: Data, local: EngineResult, plan: SplitPlan,
                 settings: Mapping[str, Any], progress: ProgressCallback | None,
                 slices: int | None, retries: int, start: float) -> EngineResult:
    """The largest size's slices as tasks, merged with the local sizes' result (``start``: when
    the whole search started)."""
    dist = distributed_module()
    state, size, slots = plan["state"], int(plan["size"]), int(plan["slots"])
    workers = len(cluster.scheduler_info()["workers"])
    threads = sum(cluster.nthreads().values())
    bounds = slice_bounds(slots, int(plan["segment"]),
                          slices if slices is not None else SLICES_PER_THREAD * max(threads, 1))
    shared = {k: v for k, v in settings.items() if k not in _UNBOUNDED}
    stage = time.perf_counter()
    state_f, data_f = cluster.scatter([state, data], broadcast=True, hash=False)
    tag = uuid.uuid4().hex[:12]
    futures = [cluster.submit(_run_slice, data_f, state_f, b, e, shared, retries=retries,
                              pure=False, key=f"vok-slice-{tag}-{i}")
               for i, (b, e) in enumerate(bounds)]
    index = {f.key: i for i, f in enumerate(futures)}
    parts: list[EngineResult | None] = [None] * len(futures)
    best = min((m["rmse"] for m in local["front"]), default=math.inf)
    done = 0
    complete = True
    try:
        for future in dist.as_completed(futures):
            i = index[future.key]
            part = parts[i] = future.result()
            done += bounds[i][1] - bounds[i][0]
            best = min([best, *(m["rmse"] for m in part["front"])])
            if progress is not None:
                progress({"size": size, "done": done, "expected": slots, "best_rmse": best,
                          "elapsed": local["elapsed"] + time.perf_counter() - stage})
    except KeyboardInterrupt:
        # As the engine does on Ctrl-C: the front so far, marked interrupted.
        complete = False
    finally:
        cluster.cancel([*futures, state_f, data_f])
    finished = [p for p in parts if p is not None]
    if not finished:
        local["stopped"] = "interrupted"
        return local
    result = cast(EngineResult, _engine.merge_slices(
        cast(Any, local), size, cast(Any, finished), int(settings.get("front_size", 1)),
        time.perf_counter() - stage, complete and len(finished) == len(parts)))
    result["elapsed"] = time.perf_counter() - start
    result["cluster"] = {"slices": len(bounds), "workers": workers, "state_bytes": len(state),
                         "data_bytes": data[0].nbytes + data[1].nbytes}
    return result
