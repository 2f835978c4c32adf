"""Wall time and peak memory of a complete default discover() at the sizes it must reach.

    PYTHONPATH=$PWD/build/release/python python3 bench/size_bench.py \
        [--cases 1,2,3,4] [--size-offset -1] [--workers 1,2] [--rows 200] [--json]

Each case is a number of variables and the largest size its search must complete: 1 variable
to 11, 2 to 10, 3 to 9, 4 to 8 (--size-offset shifts them all, -1 for a quicker run). The
search is discover() with its defaults (operators, the constant 1, scaling) and no time limit,
on 200 rows of noise: X uniform in [0.5, 4], y drawn apart from X, so no formula fits early and
every size is enumerated to the end. Each measurement runs in a fresh interpreter with the
worker count in RAYON_NUM_THREADS (the pool is sized once per process, and peak memory is per
process); it reports wall seconds, peak RSS, whether every size is complete, and the distinct
functions of each size (the candidates left after probe deduplication; the largest size
deduplicates within each segment of its candidates only, so it counts more than it would as a
smaller size). One worker and two must find the same front and counts.

--exact ROWS times instead the search to an exact law of 3 variables and 8 tokens,
x1 * sin(x0) / (x1 + x2), on ROWS rows with discover()'s defaults (it stops at the exact fit).
"""

import argparse
import json
import os
import subprocess
import sys

CASES = {1: 11, 2: 10, 3: 9, 4: 8}
DETERMINED = ("size", "complete", "candidates", "no_value", "duplicates", "distinct", "scored",
              "valid")

CHILD = """
import json, math, resource, sys, time
import numpy as np
import vok_math
n_vars, max_size, rows = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
exact = len(sys.argv) > 4
rng = np.random.default_rng(20240611 + n_vars)
X = rng.uniform(0.5, 4.0, size=(rows, n_vars))
y = X[:, 1] * np.sin(X[:, 0]) / (X[:, 1] + X[:, 2]) if exact else rng.normal(size=rows)
vok_math.discover(X[:8], y[:8], max_size=1, progress=False)  # the pool starts outside the timing
start = time.perf_counter()
d = (vok_math.discover(X, y, progress=False) if exact else
     vok_math.discover(X, y, max_size=max_size, time_limit=math.inf, progress=False))
seconds = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(json.dumps({"seconds": seconds, "peak_bytes": peak, "stopped": d.stopped,
                  "sizes": [dict(s) for s in d.sizes],
                  "best": d.best.formula, "rmse": d.best.rmse.hex()}))
"""


def run(n_vars, max_size, rows, workers, exact=False):
    # numpy's BLAS threads would otherwise spin beside the workers being timed.
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1",
               RAYON_NUM_THREADS=str(workers))
    argv = [sys.executable, "-c", CHILD, str(n_vars), str(max_size), str(rows)]
    out = subprocess.run(argv + ["exact"] * exact, env=env, capture_output=True, text=True,
                         check=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cases", default="1,2,3,4", help="variable counts to run")
    parser.add_argument("--size-offset", type=int, default=0,
                        help="added to every case's largest size (-1: one size smaller)")
    parser.add_argument("--workers", default="1,2", help="worker counts to run")
    parser.add_argument("--rows", type=int, default=200)
    parser.add_argument("--json", action="store_true", help="one JSON line per measurement")
    parser.add_argument("--exact", type=int, metavar="ROWS",
                        help="time the search to an exact 3-variable law of 8 tokens instead")
    args = parser.parse_args()
    if args.exact:
        for workers in (int(w) for w in args.workers.split(",")):
            r = run(3, 0, args.exact, workers, exact=True)
            print(f"exact law on {args.exact} rows, {workers} worker{'s' if workers > 1 else ' '}: "
                  f"{r['seconds']:6.2f} s  {r['best']}  ({r['stopped']})")
        return
    for n_vars in (int(c) for c in args.cases.split(",")):
        max_size = CASES[n_vars] + args.size_offset
        results = []
        for workers in (int(w) for w in args.workers.split(",")):
            r = run(n_vars, max_size, args.rows, workers)
            complete = all(s["complete"] for s in r["sizes"])
            sizes = [s["size"] for s in r["sizes"]]
            complete = complete and sizes == list(range(1, max_size + 1))
            results.append(r)
            if args.json:
                print(json.dumps({"vars": n_vars, "max_size": max_size, "workers": workers,
                                  "complete": complete, **r}))
                continue
            print(f"{n_vars} var, size {max_size:2d}, {workers} worker{'s' if workers > 1 else ' '}"
                  f": {r['seconds']:8.2f} s (largest size {r['sizes'][-1]['seconds']:.2f} s)  "
                  f"peak {r['peak_bytes'] / 2**20:7.1f} MiB  "
                  f"all complete: {complete}  ({r['stopped']})")
            print("    distinct per size: "
                  + " ".join(f"{s['size']}:{s['distinct']}" for s in r["sizes"]))
        # Neither the front nor any count depends on the worker count.
        seen = {(r["best"], r["rmse"], json.dumps([[s[k] for k in DETERMINED] for s in r["sizes"]]))
                for r in results}
        assert len(seen) == 1, f"{n_vars} variables: the worker count changed the result"


if __name__ == "__main__":
    main()
