"""Laws of several terms: how long discover(terms=...) takes to state a few sums of products,
and what it states with one term only.

Each law is sampled with every variable uniform in its range (a fixed seed), searched with the
given time limit, once with ``terms=1`` and once with the default; a law counts as found when
the chosen equation's predictions agree with the truth to 1e-9 (relative).

    PYTHONPATH=build/release/python python3 bench/terms_bench.py [--rows 200] [--time 60]
"""

from __future__ import annotations

import argparse
import time
from collections.abc import Callable
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from vok_math import discover

Array = npt.NDArray[np.float64]


@dataclass(frozen=True)
class Law:
    name: str
    names: tuple[str, ...]
    low: float
    high: float
    truth: Callable[..., Array]


LAWS = (
    Law("x1*y1 + x2*y2 + x3*y3", ("x1", "y1", "x2", "y2", "x3", "y3"), 1, 5,
        lambda x1, y1, x2, y2, x3, y3: x1 * y1 + x2 * y2 + x3 * y3),
    Law("m*(v^2 + u^2 + w^2)/2", ("m", "v", "u", "w"), 1, 5,
        lambda m, v, u, w: 0.5 * m * (v * v + u * u + w * w)),
    Law("q1*q2/r + a*r^2", ("q1", "q2", "r", "a"), 1, 5,
        lambda q1, q2, r, a: q1 * q2 / r + a * r * r),
    Law("3*exp(-x) + 2*sin(y) + 1", ("x", "y"), 0, 3,
        lambda x, y: 3 * np.exp(-x) + 2 * np.sin(y) + 1),
)


def run(law: Law, rows: int, seconds: float, terms: int) -> tuple[bool, float, str]:
    rng = np.random.default_rng(1)
    X = rng.uniform(law.low, law.high, (rows, len(law.names)))
    y = law.truth(*X.T)
    start = time.perf_counter()
    d = discover(X, y, names=list(law.names), time_limit=seconds, terms=terms, progress=False)
    took = time.perf_counter() - start
    pred = d.best.predict(X)
    found = bool(np.all(np.abs(pred - y) <= 1e-9 * np.maximum(np.abs(y), 1.0)))
    return found, took, d.best.formula


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=200)
    parser.add_argument("--time", type=float, default=60.0)
    args = parser.parse_args()
    print(f"{'law':26} {'terms':>5} {'found':>5} {'seconds':>8}  stated")
    for law in LAWS:
        for terms in (1, 3):
            found, took, formula = run(law, args.rows, args.time, terms)
            print(f"{law.name:26} {terms:5d} {'yes' if found else 'no':>5} {took:8.2f}  {formula}",
                  flush=True)


if __name__ == "__main__":
    main()
