"""evaluate_many against a loop of evaluate, as discover() turns a front into equations.

    PYTHONPATH=build/<dir>/python python3 bench/evaluate_many_bench.py [--programs 80] [--rows 5000]

The programs are a real front (the best 8 of each size up to 10, repeated to the count asked). Each way ends with one float64
numpy array per program, since that is what its caller works on; a loop of settle against the
Python sums it replaces closes the run. Every result is checked bit for bit. The machine's other
load shows in every figure: compare ratios, not milliseconds.
"""
import argparse
import time

import numpy as np

from vok_math import _engine


def best_ms(fn, rounds=7):
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best * 1e3


def python_sse(f, y, scale, offset):
    with np.errstate(all="ignore"):
        r = ((scale * f) + offset) - y
        return float(np.cumsum(r * r)[-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--programs", type=int, default=80)
    parser.add_argument("--rows", type=int, default=5000)
    args = parser.parse_args()
    rng = np.random.default_rng(0)
    columns = rng.uniform(0.5, 3.0, (2, args.rows))
    y = np.exp(-columns[0]) * columns.sum(axis=0) + 0.1 * np.sin(columns[1])
    front = _engine.enumerate(columns, y, max_size=10, front_size=8, max_rows=500)["front"]
    programs = [m["program"] for m in front] * (1 + args.programs // len(front))
    programs = programs[: args.programs]
    print(f"{len(programs)} programs x {args.rows} rows")

    def loop():
        return [np.asarray(_engine.evaluate(p, columns), dtype=np.float64) for p in programs]
    def many():
        return [np.asarray(v) for v in _engine.evaluate_many(programs, columns)]
    def lists():
        return [v.tolist() for v in _engine.evaluate_many(programs, columns)]
    assert all(a.tobytes() == b.tobytes() for a, b in zip(loop(), many(), strict=True))
    t_loop, t_many, t_lists = best_ms(loop), best_ms(many), best_ms(lists)
    print(f"loop of evaluate + np.asarray: {t_loop:8.2f} ms")
    print(f"evaluate_many + np.asarray:    {t_many:8.2f} ms  ({t_loop / t_many:.1f}x)")
    print(f"evaluate_many, as float lists: {t_lists:8.2f} ms  (the cost of a list return)")

    pairs = [[(m["scale"], m["offset"]), (1.0, m["offset"]), (m["scale"], 0.0)] for m in front]
    values = many()
    def by_python():
        return [[python_sse(f, y, s, o) for s, o in p] for f, p in zip(values, pairs)]
    def by_engine():
        return [_engine.settle(m["program"], columns, y, p)["sse"] for m, p in zip(front, pairs)]
    assert by_python() == by_engine()
    t_py, t_engine = best_ms(by_python), best_ms(by_engine)
    print(f"sse of 3 constant pairs each, numpy on ready values: {t_py:8.2f} ms")
    print(f"settle per program (evaluates too):                  {t_engine:8.2f} ms")


if __name__ == "__main__":
    main()
