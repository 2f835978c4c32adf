"""Many searches, and one search's largest size, on a Dask cluster.

Two ways past one machine:

- :func:`discover_many` runs one search per problem: in this process one after another (the
  engine's threads do the work), or one task per problem on a ``dask.distributed`` cluster.
- ``discover(X, y, client=client)`` runs the sizes below ``max_size`` here and splits the
  largest size, which holds most of the work (the count of expressions grows about sevenfold
  per token), into slices of its candidates that run on the workers (:func:`enumerate_split`,
  from :mod:`vok_math.slices`).

Either way the result is bit for bit the local one. Dask schedules, moves the data and
recomputes the tasks of a lost worker; dask and distributed are needed only when a client is
given (``pip install 'vok_math[dask]'``).
"""

from __future__ import annotations

import uuid
from collections.abc import Generator, Iterable, Mapping
from typing import TYPE_CHECKING, Any, Literal, overload

from vok_math.cluster import RETRIES, checked_client, distributed_module
from vok_math.discovery import Discovery, discover
from vok_math.progress import problems_bar, resolve
from vok_math.slices import enumerate_split

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["discover_many", "enumerate_split"]

# One (X, y) pair, or the keyword arguments of one discover() call (with "X" and "y").
Problem = tuple[Any, Any] | Mapping[str, Any]


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
    dist = distributed_module()
    cluster = checked_client(client)
    progress = resolve(settings.get("progress"))
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
    bar = problems_bar(len(futures) + len(failed), len(failed)) if progress else None
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
    ('3 * x', 't**2')
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
