"""Times the first find_formula call of a fresh process against the second.

    python3 bench/first_call_bench.py [--build BUILD_DIR ...] [--processes N]

For each case and build, N fresh interpreters (default 20) each import the
module, build the case's data, then call find_formula twice and print both
times; the medians and the minima over the processes are reported. Whatever a
search pays once per process (starting workers, asking the system about
memory, first touching fresh pages) shows as first minus second. With several
builds the processes alternate between them, so a change in the machine's
load falls on all of them alike.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

# Runs in the child: one case's data, then two timed calls, as JSON.
CHILD = r"""
import json, math, sys, time
from vok_math.vok_core import find_formula

def kepler(rows):
    a = [0.4 + 4.6 * i / (rows - 1) for i in range(rows)]
    return [a], [x * math.sqrt(x) for x in a]

def two_vars(rows):
    x = [0.5 + 3.5 * ((i * 37) % rows) / rows for i in range(rows)]
    y = [0.5 + 3.5 * ((i * 91) % rows) / rows for i in range(rows)]
    return [x, y], [u * v for u, v in zip(x, y)]

x, y = {"kepler_200": kepler, "two_vars_300": two_vars}[sys.argv[1]](int(sys.argv[2]))
times = []
for _ in range(2):
    start = time.perf_counter()
    res = find_formula(x, y)
    times.append((time.perf_counter() - start) * 1e3)
print(json.dumps({"ms": times, "formula": res.formula if res else None}))
"""

CASES = (("kepler_200", 200), ("two_vars_300", 300))


def child_run(build: str, name: str, rows: int) -> dict:
    env = dict(os.environ, PYTHONPATH=os.path.join(os.path.abspath(build), "python"))
    out = subprocess.run([sys.executable, "-c", CHILD, name, str(rows)], env=env, check=True,
                         capture_output=True, text=True).stdout
    return json.loads(out)


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", action="append", help="CMake build directory (repeatable; "
                    "default build/release)")
    ap.add_argument("--processes", type=int, default=20)
    args = ap.parse_args()
    builds = args.build or ["build/release"]

    print(f"{'case':<13} {'first ms':>15} {'second ms':>15} {'extra ms':>9}  "
          f"(median / min of {args.processes} processes)  formula  build")
    for name, rows in CASES:
        runs: dict[str, list[dict]] = {b: [] for b in builds}
        for _ in range(args.processes):
            for b in builds:
                runs[b].append(child_run(b, name, rows))
        for b in builds:
            first = [r["ms"][0] for r in runs[b]]
            second = [r["ms"][1] for r in runs[b]]
            formulas = " | ".join(sorted({str(r["formula"]) for r in runs[b]}))
            extra = statistics.median(first) - statistics.median(second)
            print(f"{name:<13} {statistics.median(first):7.2f} /{min(first):6.2f} "
                  f"{statistics.median(second):7.2f} /{min(second):6.2f} {extra:9.2f}  "
                  f"{formulas}  {b}", flush=True)


if __name__ == "__main__":
    main()
