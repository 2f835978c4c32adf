"""Many searches, and one search's largest size, on a Dask cluster.

Two ways past one machine:

- :func:`discover_many` runs one search per problem: in this process one after another (the
  engine's threads do the work), or one task per problem on a ``dask.distributed`` cluster.
- ``discover(X, y, client=client)`` runs the sizes below ``max_size`` here and splits the
  largest size, which holds most of the work (the count of expressions grows about sevenfold
  per token), into slices of its candidates that run on the workers (:func:`enumerate_split`).

Either way the result is bit for bit the local one. Dask schedules, moves the data and
recomputes the tasks of a lost worker; dask and distributed are needed only when a client is
given (``pip install 'vok_math[dask]'``).
"""

from __future__ import annotations

import math
import sys
import time
import uuid
from collections.abc import Callable, Generator, Iterable, Mapping
from types import ModuleType
from typing import TYPE_CHECKING, Any, Literal, Union, overload

import numpy as np
import numpy.typing as npt

from vok_math import _engine

if TYPE_CHECKING:
    from distributed import Client

    from vok_math.discovery import Discovery

__all__ = ["discover_many", "enumerate_split"]

# One (X, y) pair, or the keyword arguments of one discover() call (with "X" and "y").
Problem = Union[tuple[Any, Any], Mapping[str, Any]]

# Slice tasks per worker thread. Every slice first rebuilds the smaller sizes from the state
# (about a third of their local time), so more slices than threads only buy balance and a
# smaller loss per lost worker at that price each.
SLICES_PER_THREAD = 1
# Retries of a task whose run raised (a lost worker's tasks are rescheduled by Dask anyway).
RETRIES = 2
# Settings a slice does not take: it runs its candidates to the end, on one thread, silently.
_UNBOUNDED = ("time_limit", "max_evaluations", "progress", "n_threads")


def _distributed() -> ModuleType:
    """The ``distributed`` module, or an ImportError that says how to get it."""
    try:
        import distributed
    except ImportError:
        raise ImportError("running on a Dask cluster needs dask.distributed: "
                          "pip install 'vok_math[dask]'") from None
    return distributed


def _checked(client: object) -> Any:
    """The client, typed Any: distributed's methods carry no annotations."""
    if not isinstance(client, _distributed().Client):
        raise TypeError(f"client must be a dask.distributed.Client, not {type(client).__name__}")
    return client


# --- one search's largest size in slices ---

def _run_slice(data: tuple[npt.NDArray[np.float64], npt.NDArray[np.float64]], state: bytes,
               begin: int, end: int, settings: Mapping[str, Any]) -> dict[str, Any]:
    """One slice on a worker: one engine thread per Dask thread, so workers do not oversubscribe."""
    columns, y = data
    result: dict[str, Any] = _engine.enumerate_slice(columns, y, state, begin, end, n_threads=1,
                                                     **settings)
    return result


def _slice_bounds(slots: int, segment: int, slices: int) -> list[tuple[int, int]]:
    """``slices`` runs of whole segments covering [0, slots), as even as segments allow.

    >>> _slice_bounds(10, 4, 2)
    [(0, 4), (4, 10)]
    >>> _slice_bounds(10, 4, 5)
    [(0, 4), (4, 8), (8, 10)]
    """
    n_segments = -(-slots // segment)
    n = max(1, min(slices, n_segments))
    edges = (np.arange(n + 1) * n_segments // n) * segment
    edges[-1] = slots
    return list(zip(edges[:-1].tolist(), edges[1:].tolist()))


def _merge(local: dict[str, Any], size: int, parts: list[dict[str, Any]], front_size: int,
           seconds: float, complete: bool) -> dict[str, Any]:
    """The whole search's result from the local sizes and the largest size's slices.

    The largest size's front is the first ``front_size`` of every slice's front ranked by
    (sse, order), exactly the engine's own ranking; its report sums the slices' counts.
    """
    members = sorted((m for p in parts for m in p["front"]), key=lambda m: (m["sse"], m["order"]))
    reports = [p["sizes"][0] for p in parts]
    report: dict[str, Any] = {}
    for key, value in reports[0].items():
        if key == "size":
            report[key] = size
        elif key == "complete":
            report[key] = complete and all(r["complete"] for r in reports)
        elif key == "seconds":
            report[key] = seconds
        else:
            report[key] = sum(r[key] for r in reports)
    return {
        "front": local["front"] + members[:front_size],
        "sizes": local["sizes"] + [report],
        "stopped": "complete" if complete else "interrupted",
        "evaluations": local["evaluations"] + report.get("scored", 0),
        "elapsed": local["elapsed"] + seconds,
    }


def _refit(front: list[dict[str, Any]], columns: npt.NDArray[np.float64],
           y: npt.NDArray[np.float64], scaling: bool) -> list[dict[str, Any]]:
    """A front searched on a subset of the rows, fitted again on every row by the engine's own
    fit, as after its own subset search. A member without a value on some row leaves; the rest
    are ranked again by (size, sse, order)."""
    kept = []
    for member in front:  # a few per size
        fitted = _engine.fit(member["program"], columns, y, scaling)
        if fitted is None:
            continue
        sse, scale, offset = fitted
        kept.append(dict(member, sse=sse, rmse=math.sqrt(sse / len(y)), scale=scale,
                         offset=offset))
    return sorted(kept, key=lambda m: (m["size"], m["sse"], m["order"]))


def enumerate_split(client: Client, columns: npt.ArrayLike, y: npt.ArrayLike,
                    settings: Mapping[str, Any], *,
                    progress: Callable[[dict[str, Any]], object] | None = None,
                    slices: int | None = None, retries: int = RETRIES) -> dict[str, Any]:
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
    dist = _distributed()
    cluster = _checked(client)
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
        rows = np.arange(max_rows, dtype=np.int64) * len(y) // max_rows
        result = enumerate_split(cluster, columns[:, rows], y[rows], {**settings, "max_rows": 0},
                                 progress=progress, slices=slices, retries=retries)
        result["front"] = _refit(result["front"], columns, y, bool(settings.get("scaling", True)))
        return result
    local: dict[str, Any] = _engine.enumerate(columns, y, split=True, progress=progress,
                                              **settings)
    plan = local.pop("split", None)
    if plan is None or not plan["slots"]:
        return local  # finished before the largest size: this is the answer

    state, size, slots = plan["state"], int(plan["size"]), int(plan["slots"])
    workers = len(cluster.scheduler_info()["workers"])
    threads = sum(cluster.nthreads().values())
    bounds = _slice_bounds(slots, int(plan["segment"]),
                           slices if slices is not None else SLICES_PER_THREAD * max(threads, 1))
    shared = {k: v for k, v in settings.items() if k not in _UNBOUNDED}
    stage = time.perf_counter()
    state_f, data_f = cluster.scatter([state, (columns, y)], broadcast=True, hash=False)
    tag = uuid.uuid4().hex[:12]
    futures = [cluster.submit(_run_slice, data_f, state_f, b, e, shared, retries=retries,
                             pure=False, key=f"vok-slice-{tag}-{i}")
               for i, (b, e) in enumerate(bounds)]
    index = {f.key: i for i, f in enumerate(futures)}
    parts: list[dict[str, Any] | None] = [None] * len(futures)
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
    result = _merge(local, size, finished, int(settings.get("front_size", 1)),
                    time.perf_counter() - stage, complete and len(finished) == len(parts))
    result["elapsed"] = time.perf_counter() - start
    result["cluster"] = {"slices": len(bounds), "workers": workers, "state_bytes": len(state),
                         "data_bytes": columns.nbytes + y.nbytes}
    return result


# --- many searches ---

def _problem(problem: Problem, settings: Mapping[str, Any]) -> dict[str, Any]:
    """discover()'s keyword arguments for one problem: the shared settings, then its own."""
    if isinstance(problem, Mapping):
        if "X" not in problem or "y" not in problem:
            raise TypeError(f"a problem given as a dict needs keys 'X' and 'y', got "
                            f"{sorted(map(str, problem))}")
        return {**settings, **problem}
    if isinstance(problem, (str, bytes)) or not isinstance(problem, Iterable):
        raise TypeError(f"a problem must be an (X, y) pair or a dict, not {type(problem).__name__}")
    pair = tuple(problem)
    if len(pair) != 2:
        raise TypeError(f"a problem must be an (X, y) pair, got {len(pair)} items")
    return {**settings, "X": pair[0], "y": pair[1]}


def _solve(kwargs: dict[str, Any]) -> Discovery | Exception:
    """One search; bad data comes back as its exception, so it is not retried."""
    from vok_math.discovery import discover

    try:
        return discover(**kwargs)
    except Exception as error:  # noqa: BLE001 - every failure belongs to its own slot
        return error


def _interrupted(result: Discovery | Exception) -> bool:
    return not isinstance(result, Exception) and result.stopped == "interrupted"


def _iter_local(problems: Iterable[Problem], settings: Mapping[str, Any]
                ) -> Generator[tuple[int, Discovery | Exception], None, None]:
    for i, problem in enumerate(problems):
        try:
            kwargs = _problem(problem, settings)
        except TypeError as error:
            yield i, error
            continue
        result = _solve(kwargs)
        yield i, result
        if _interrupted(result):
            # Ctrl-C stopped this search (it returned the front so far): stop the rest.
            raise KeyboardInterrupt


def _iter_cluster(client: Client, problems: Iterable[Problem], settings: Mapping[str, Any],
                  retries: int) -> Generator[tuple[int, Discovery | Exception], None, None]:
    dist = _distributed()
    cluster = _checked(client)
    progress = settings.get("progress")
    if progress is None:
        progress = sys.stderr is not None and sys.stderr.isatty()
    if callable(progress):
        raise TypeError("a progress callable cannot run on the cluster; pass progress=True for "
                        "a bar of the problems finished")
    # The engine on a worker gets one thread per Dask thread unless told otherwise.
    shared = {"n_threads": 1, **settings, "progress": False}
    tag = uuid.uuid4().hex[:12]
    futures, index, failed = [], {}, []
    for i, problem in enumerate(problems):
        try:
            kwargs = _problem(problem, shared)
        except TypeError as error:
            failed.append((i, error))
            continue
        future = cluster.submit(_solve, kwargs, retries=retries, pure=False,
                               key=f"vok-search-{tag}-{i}")
        futures.append(future)
        index[future.key] = i
    yield from failed
    bar = _problems_bar(len(futures) + len(failed), len(failed)) if progress else None
    try:
        for future in dist.as_completed(futures):
            i = index[future.key]
            try:
                result = future.result()
            except Exception as error:  # noqa: BLE001 - e.g. the task's workers kept dying
                result = error
            if bar is not None:
                bar.update()
            yield i, result
    finally:
        cluster.cancel(futures)
        if bar is not None:
            bar.close()


def _problems_bar(total: int, done: int) -> Any:
    try:
        from tqdm.auto import tqdm
    except ImportError:
        raise ImportError("progress bars need tqdm: pip install tqdm") from None
    return tqdm(total=total, initial=done, unit="problem", leave=False, dynamic_ncols=True)


def iter_many(problems: Iterable[Problem], *, client: Client | None = None,
              retries: int = RETRIES, **settings: Any
              ) -> Generator[tuple[int, Discovery | Exception], None, None]:
    """(index, result) for every problem as it finishes, as :func:`discover_many` runs them.

    Locally the order is the input order; on a cluster it is the order of completion.
    """
    if client is None:
        return _iter_local(problems, settings)
    return _iter_cluster(client, problems, settings, retries)


@overload
def discover_many(problems: Iterable[Problem], *, client: Client | None = ...,
                  errors: Literal["raise"], retries: int = ..., **settings: Any
                  ) -> list[Discovery]: ...
@overload
def discover_many(problems: Iterable[Problem], *, client: Client | None = ...,
                  errors: Literal["return"] = ..., retries: int = ..., **settings: Any
                  ) -> list[Discovery | Exception]: ...
def discover_many(problems: Iterable[Problem], *, client: Client | None = None,
                  errors: Literal["return", "raise"] = "return", retries: int = RETRIES,
                  **settings: Any) -> list[Discovery] | list[Discovery | Exception]:
    """Runs :func:`vok_math.discover` on many data sets; the results in input order.

    Parameters
    ----------
    problems : iterable
        Each an ``(X, y)`` pair, or a dict of :func:`~vok_math.discover`'s arguments with
        ``"X"`` and ``"y"`` (for example ``{"X": X, "y": y, "names": ["m", "v"]}``); a dict's
        entries take the place of the shared ``settings``.
    client : dask.distributed.Client, optional
        Without one the searches run here, one after another, each on the engine's threads.
        With one, each search is a task on the cluster (the engine uses one thread per task
        unless ``n_threads`` is given); Dask reruns the tasks of a lost worker.
    errors : {"return", "raise"}, default "return"
        "return": a problem that fails (bad data, bad settings) gets its exception in its
        slot and the others still run. "raise": the first failure in input order is raised.
    retries : int, default 2
        With a client: retries of a task whose run raised.
    **settings
        :func:`~vok_math.discover`'s keyword arguments, shared by every problem. With a
        client, ``progress=True`` shows a bar of the problems finished (per-search progress
        stays on the workers).

    Returns
    -------
    list
        One :class:`~vok_math.Discovery` (or exception) per problem, in input order. The
        fronts are bit for bit the same with or without a client (a time limit aside, which
        makes any search depend on the machine). Ctrl-C stops the run: KeyboardInterrupt.

    Examples
    --------
    >>> import numpy as np
    >>> x = np.linspace(1.0, 2.0, 20)
    >>> runs = discover_many([(x, 3 * x), {"X": x, "y": x * x, "names": ["t"]}, (x, x[:5])],
    ...                      max_size=4, progress=False)
    >>> runs[0].best.formula, runs[1].best.formula
    ('3 * x', 't * t')
    >>> runs[2]
    ValueError('X has 20 rows but y has 5 values')
    """
    if errors not in ("return", "raise"):
        raise ValueError(f"errors must be 'return' or 'raise', got {errors!r}")
    items = list(problems)
    results: list[Discovery | Exception | None] = [None] * len(items)
    known = 0  # results[:known] are all in
    runs = iter_many(items, client=client, retries=retries, **settings)
    try:
        for i, result in runs:
            results[i] = result
            while known < len(items) and results[known] is not None:
                # "raise": the first failure in input order, once all before it are known.
                if errors == "raise" and isinstance(results[known], Exception):
                    raise results[known]  # type: ignore[misc]
                known += 1
    finally:
        runs.close()
    return results  # type: ignore[return-value]
