"""Searches on a Dask LocalCluster against the same searches in one process.

    PYTHONPATH=build/<dir>/python python3 bench/distributed_bench.py [--problems 40] [--size 8]

1. discover_many over many small problems: in this process (one search after another, the
   engine's threads) against a LocalCluster of 2 workers with 1 thread each.
2. One search whose largest size is split: the local run with k engine threads against a
   LocalCluster of k workers (1 thread each) for k = 1, 2; the bytes sent to each worker (the
   smaller sizes' state and the data, once) and the overhead against the local run.
3. What deduplicating the largest size per segment costs: the candidates it scores as the
   largest size against the same size deduplicated as a whole (as every smaller size is).

Cluster start-up (and the workers' first import of vok_math) is not timed. Every distributed result is checked bit for bit against the
local one. The machine's other load shows in every figure: compare ratios, not seconds.
"""
import argparse
import contextlib
import importlib
import math
import time

import numpy as np
from distributed import Client, LocalCluster

from vok_math import _engine
from vok_math.distributed import discover_many, enumerate_split
from vok_math.slices import slice_bounds


@contextlib.contextmanager
def cluster(workers):
    """A LocalCluster and its client, the workers already past importing vok_math (a cluster
    is started once for many searches; its start-up is not what is measured)."""
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                      host="127.0.0.1", dashboard_address=":0") as c, Client(c) as client:
        client.run(importlib.import_module, "vok_math.distributed")
        yield client


def problems(n, rows, seed=7):
    """Noisy laws of one or two variables: no exact fit, so every size runs."""
    rng = np.random.default_rng(seed)
    out = []
    for i in range(n):
        X = rng.uniform(0.5, 3.0, size=(rows, 1 + i % 2))
        a, b = rng.uniform(0.5, 2.0, size=2)
        y = a * np.exp(-b * X[:, 0]) * X.sum(axis=1) + 0.01 * rng.normal(size=rows)
        out.append((X, y))
    return out


def same_fronts(a, b):
    return all(x.equations == y.equations and x._candidates == y._candidates
               for x, y in zip(a, b, strict=True))


def cpu_seconds():
    return time.process_time()


class Clock:
    """Wall time, and CPU time of this process plus the cluster's worker processes (CPU time
    does not grow when other programs share the machine, so it shows the overhead best)."""

    def __init__(self, client=None):
        self.client = client

    def _cpu(self):
        workers = sum(self.client.run(cpu_seconds).values()) if self.client else 0.0
        return time.process_time() + workers

    def __enter__(self):
        self.cpu, self.wall = self._cpu(), time.perf_counter()
        return self

    def __exit__(self, *exc):
        self.wall = time.perf_counter() - self.wall
        self.cpu = self._cpu() - self.cpu


def bench_many(n, rows, size, repeats):
    work = problems(n, rows)
    settings = dict(max_size=size, time_limit=math.inf, progress=False)
    here, there = [], []
    for _ in range(repeats):
        with Clock() as clock:
            local = discover_many(work, **settings)
        here.append(clock)
    with cluster(2) as client:
        for _ in range(repeats):
            with Clock(client) as clock:
                remote = discover_many(work, client=client, **settings)
            there.append(clock)
    assert same_fronts(local, remote)
    a = min(here, key=lambda c: c.wall)
    b = min(there, key=lambda c: c.wall)
    print(f"discover_many, {n} problems of {rows} rows, max_size {size} (best of {repeats}; "
          f"identical fronts):")
    print(f"  {'':28}  {'wall s':>7}  {'ms/problem':>10}  {'CPU s':>7}")
    for name, c in (("here (engine threads)", a), ("LocalCluster 2 workers x 1", b)):
        print(f"  {name:28}  {c.wall:7.2f}  {c.wall / n * 1e3:10.1f}  {c.cpu:7.2f}")
    print(f"  cluster against here: wall {b.wall / a.wall:.2f}x, CPU {b.cpu / a.cpu:.2f}x")


def engine_only(columns, y, settings, n_threads, slices):
    """The split run's engine work without Dask: the smaller sizes, then the slices one after
    another in this process. CPU seconds, and the slowest slice against the mean."""
    with Clock() as clock:
        plan = _engine.enumerate(columns, y, split=True, n_threads=n_threads, **settings)["split"]
        costs = []
        for begin, end in slice_bounds(plan["slots"], plan["segment"], slices):
            start = time.process_time()
            _engine.enumerate_slice(columns, y, plan["state"], begin, end, n_threads=1, **settings)
            costs.append(time.process_time() - start)
    return clock.cpu, max(costs) / (sum(costs) / len(costs))


def bench_split(rows, size):
    rng = np.random.default_rng(3)
    x = rng.uniform(0.5, 3.0, size=rows)
    columns = np.ascontiguousarray(x[None, :])
    y = x * np.exp(-x) + 0.3 * np.sin(2 * x) + 0.01 * rng.normal(size=rows)
    settings = dict(max_size=size, front_size=8)
    print(f"\nsplit largest size: 1 variable, {rows} rows, max_size {size} (the local run with as "
          f"many engine threads as workers)")
    print(f"  {'workers':>7}  {'slices':>6}  {'local s':>7}  {'split s':>7}  {'here s':>6}  "
          f"{'wall':>7}  {'local CPU':>9}  {'split CPU':>9}  {'CPU':>7}  {'no Dask':>7}  "
          f"{'slowest':>7}")
    for k, slices in ((1, None), (2, None), (2, 8)):
        with Clock() as local:
            reference = _engine.enumerate(columns, y, n_threads=k, **settings)
        with cluster(k) as client, Clock(client) as split_clock:
            split = enumerate_split(client, columns, y, dict(settings, n_threads=k),
                                    slices=slices)
        assert split["front"] == reference["front"]
        sent = split["cluster"]
        bare, slowest = engine_only(columns, y, settings, k, sent["slices"])
        here = split["elapsed"] - split["sizes"][-1]["seconds"]
        print(f"  {k:>7}  {sent['slices']:>6}  {local.wall:7.2f}  {split_clock.wall:7.2f}  "
              f"{here:6.2f}  {split_clock.wall / local.wall - 1:+7.1%}  {local.cpu:9.2f}  "
              f"{split_clock.cpu:9.2f}  {split_clock.cpu / local.cpu - 1:+7.1%}  "
              f"{bare / local.cpu - 1:+7.1%}  {slowest:6.2f}x")
    last = reference["sizes"][-1]
    print("  here s: the sizes below the largest; no Dask: the CPU of the same slices run one "
          "after another here;\n  slowest: the costliest slice against the mean (slots are "
          "not equal in cost)")
    print(f"  sent to each worker once: state {sent['state_bytes']:,} bytes + data "
          f"{sent['data_bytes']:,} bytes; largest size {last['candidates']:,} candidates, "
          f"{last['distinct']:,} scored; identical fronts")
    state = _engine.enumerate(columns, y, split=True, n_threads=1, **settings)["split"]["state"]
    with Clock() as rebuild:
        _engine.enumerate_slice(columns, y, state, 0, 0, n_threads=1, **settings)
    print(f"  fixed cost of a slice (rebuilding the smaller sizes from the state): "
          f"{rebuild.cpu:.2f} CPU s")


def bench_dedup(rows, size):
    rng = np.random.default_rng(5)
    x = rng.uniform(0.5, 3.0, size=(2, rows))
    y = x[0] * np.exp(-x[1]) + 0.01 * rng.normal(size=rows)
    as_largest = _engine.enumerate(x, y, max_size=size)["sizes"][size - 1]
    as_grown = _engine.enumerate(x, y, max_size=size + 1)["sizes"][size - 1]
    extra = as_largest["distinct"] - as_grown["distinct"]
    print(f"\ndeduplication of size {size} (2 variables, {rows} rows), "
          f"{as_largest['candidates']:,} candidates in {math.ceil(as_largest['candidates'] / _engine.SEGMENT_SLOTS)} "
          f"segments:")
    print(f"  per segment (the largest size, split or not): {as_largest['distinct']:,} scored")
    print(f"  whole size (every smaller size):              {as_grown['distinct']:,} scored")
    print(f"  cost: {extra:,} more candidates scored ({extra / as_grown['distinct']:+.1%}); "
          "a function met in two segments is scored twice and can take two places in the front")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--problems", type=int, default=40)
    parser.add_argument("--many-rows", type=int, default=100)
    parser.add_argument("--many-size", type=int, default=7)
    parser.add_argument("--rows", type=int, default=100)
    parser.add_argument("--size", type=int, default=8)
    parser.add_argument("--dedup-size", type=int, default=7)
    parser.add_argument("--repeats", type=int, default=2, help="discover_many: best of")
    args = parser.parse_args()
    if args.problems:
        bench_many(args.problems, args.many_rows, args.many_size, args.repeats)
    bench_split(args.rows, args.size)
    bench_dedup(args.rows, args.dedup_size)


if __name__ == "__main__":
    main()
