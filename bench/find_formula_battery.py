"""Times the search battery through the Python entry find_formula, beside the
native search_battery, to show what the Python layer adds.

    python3 bench/find_formula_battery.py --build BUILD_DIR [--repeats N] [NAME ...]

BUILD_DIR is a CMake build with the extension and search_battery (its staged
package BUILD_DIR/python is imported); build both in one step
(cmake --build BUILD_DIR --target vok_core search_battery), or the two may
hold different snapshots of the engine. The data come from search_battery
--dump-json, so both sides search the very same doubles. For each target the
native program runs (best of N repeats in one process, default 3), then
find_formula N times in this process; the best wall times are compared, and
the outcomes (formula, error bits, complexity) must be identical. Exit status 1 when an outcome differs.
"""

import argparse
import json
import math
import os
import subprocess
import sys
import time


def native_run(battery, name, repeats):
    out = subprocess.run([battery, "--tsv", "--repeats", str(repeats), name], check=True,
                         capture_output=True, text=True).stdout.splitlines()
    header = out[0].split("\t")
    return dict(zip(header, out[1].split("\t")))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True, help="CMake build directory")
    ap.add_argument("--repeats", type=int, default=3)
    ap.add_argument("--no-native", action="store_true", help="time find_formula only")
    ap.add_argument("names", nargs="*", help="targets (default: all)")
    args = ap.parse_args()

    build = os.path.abspath(args.build)
    battery = os.path.join(build, "search_battery")
    sys.path.insert(0, os.path.join(build, "python"))
    from vok_math.vok_core import find_formula

    targets = json.loads(subprocess.run([battery, "--dump-json", *args.names], check=True,
                                        capture_output=True, text=True).stdout)
    # The worker pool starts with the first search: keep that out of the times.
    find_formula(targets[0]["x_cols"], targets[0]["y"], max_complexity=1)
    print(f"{'target':<18} {'rows':>5} {'vars':>4} {'python ms':>10} {'native ms':>10} "
          f"{'ratio':>6}  {'same':<5} {'error':>10}  formula")
    differs = False
    log_py = log_ratio = 0.0
    for t in targets:
        py_ms = native_ms = math.inf
        native = None
        if not args.no_native:
            native = native_run(battery, t["name"], args.repeats)
            native_ms = float(native["ms"])
        for _ in range(args.repeats):
            start = time.perf_counter()
            res = find_formula(t["x_cols"], t["y"])
            py_ms = min(py_ms, (time.perf_counter() - start) * 1e3)
        log_py += math.log(py_ms)
        if native is None:
            same, ratio = "-", math.nan
        else:
            ok = (res is not None and native["formula"] == res.formula
                  and float.fromhex(native["error_hex"]).hex() == res.error.hex()
                  and int(native["complexity"]) == res.complexity)
            differs |= not ok
            same = "yes" if ok else "NO"
            ratio = py_ms / native_ms
            log_ratio += math.log(ratio)
        error = f"{res.error:.3e}" if res is not None else "-"
        formula = res.formula if res is not None else "-"
        print(f"{t['name']:<18} {len(t['y']):5d} {len(t['x_cols']):4d} {py_ms:10.2f} "
              f"{native_ms:10.2f} {ratio:6.3f}  {same:<5} {error:>10}  {formula}", flush=True)
    n = len(targets)
    summary = f"geometric mean over {n} targets ({args.repeats} repeats): python {math.exp(log_py / n):.2f} ms"
    if not args.no_native:
        summary += f", ratio python/native {math.exp(log_ratio / n):.3f}"
    print(summary)
    return 1 if differs else 0


if __name__ == "__main__":
    sys.exit(main())
