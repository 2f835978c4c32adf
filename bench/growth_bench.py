"""Wall time and peak memory of a default find_formula search as the row count
grows, and the wall time with one worker against two.

    PYTHONPATH=build/<dir>/python python3 bench/growth_bench.py [--rows 100,1000,...] [--threads]

Each measurement runs in a fresh interpreter (the pool size is read once per
process, and peak memory is per process). The data are fixed: three variables
and a target that no small formula fits, so every level runs.
"""
import argparse
import json
import os
import subprocess
import sys

CHILD = """
import json, resource, sys, time
import numpy as np
import vok_math.vok_core as vc
rows, repeats = int(sys.argv[1]), int(sys.argv[2])
rng = np.random.default_rng(12345)
x = rng.uniform(0.5, 4.0, size=(3, rows))
y = x[0] * x[1] / x[2] + np.sin(x[0]) + 1e-3 * rng.uniform(-1, 1, rows)
vc.find_formula(x[:, :10], y[:10], max_complexity=2)  # start the worker pool outside the timing
best = float("inf")
for _ in range(repeats):
    start = time.perf_counter()
    r = vc.find_formula(x, y)
    best = min(best, time.perf_counter() - start)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(json.dumps({"rows": rows, "seconds": best, "peak_bytes": peak,
                  "formula": r.formula, "error": r.error.hex()}))
"""


def run(rows, repeats, workers=None):
    # numpy's BLAS threads would otherwise spin beside the workers being timed.
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    if workers is not None:
        env["RAYON_NUM_THREADS"] = str(workers)
    out = subprocess.run([sys.executable, "-c", CHILD, str(rows), str(repeats)], env=env,
                         capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rows", default="100,1000,10000,100000")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--threads", action="store_true",
                        help="time 1000 rows with one worker and with two instead")
    args = parser.parse_args()
    if args.threads:
        one = min((run(1000, args.repeats, 1) for _ in range(3)), key=lambda r: r["seconds"])
        two = min((run(1000, args.repeats, 2) for _ in range(3)), key=lambda r: r["seconds"])
        assert (one["formula"], one["error"]) == (two["formula"], two["error"])
        print(f"1000 rows: 1 worker {one['seconds'] * 1e3:.1f} ms, 2 workers "
              f"{two['seconds'] * 1e3:.1f} ms, speed-up {one['seconds'] / two['seconds']:.2f}x")
        return
    print(f"{'rows':>8} {'ms':>10} {'us/row':>8} {'peak MiB':>9}  result")
    for rows in (int(r) for r in args.rows.split(",")):
        r = run(rows, args.repeats)
        print(f"{rows:>8} {r['seconds'] * 1e3:10.1f} {r['seconds'] * 1e6 / rows:8.2f} "
              f"{r['peak_bytes'] / 2**20:9.1f}  {r['formula']}  {r['error']}")


if __name__ == "__main__":
    main()
