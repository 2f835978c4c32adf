"""Feynman benchmark: discover() (and optionally two peers) on the 100 Feynman equations.

    PYTHONPATH=build/release/python python3 bench/feynman_bench.py [--laws I.6.2a,II.3.24]
        [--quick] [--budget 60] [--noise 0,0.001,0.01,0.1] [--rows 10000] [--max-rows N]
        [--max-size N] [--peers] [--json OUT] [--resume]

The equations are the ground truths of SRBench's Feynman problems, with the published variable
ranges (bench/feynman_laws.py); the data are made here. Per equation, with a seed fixed per
equation name, ``--rows`` rows (10,000) with every variable drawn uniformly from its range, split
as SRBench splits them: the first 75% train, the last 25% are held out. With noise level s the
training targets get s * rms(y) * N(0, 1), rms(y) = sqrt(mean(y^2)) of the training targets;
held-out targets stay noise-free. The rows are the same at every noise level. A full run is 100
equations times four levels at up to ``--budget`` seconds each (discover stops at its first exact
fit, so noise-free runs are mostly shorter); ``--quick`` takes 12 equations, from a product of
two variables to nine variables and arcsin, which discover has no operator for.

- discover: ``discover(X, y, names=..., time_limit=budget, progress=False)`` with its defaults
  (``--max-rows`` and ``--max-size`` are passed through), its ``.best`` equation.
- pyoperon and gplearn (``--peers``, when importable): run as bench/recovery_bench.py runs them,
  with the same budget.

Per equation and noise level:

- sym: SRBench's symbolic-solution test (bench/symbolic_check.py): the model's constants rounded
  to 3 decimals, (model - truth) or (model / truth) simplifies to a constant.
- R2 > 0.999 on the held-out noise-free rows, with the method's own prediction (SRBench's
  accuracy solution).
- front (discover): some equation of ``d.equations`` has the truth's structure: its scale and
  offset refitted by least squares on the noise-free training rows, it agrees with the truth on
  the held-out rows to 1e-9 of their rms. "best" when ``.best`` is that equation.
- seconds of wall time.

For the two equations that need arcsin, no expression in discover's operators is the truth: a
best claimed exact there (training r2 == 1, an rmse at the noise floor, or the symbolic test
passed) is flagged, as the recovery benchmark flags its controls.
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import zlib
from collections.abc import Sequence
from typing import Any

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_cli import (
    add_discover_options,
    discover_options,
    load_results,
    noise_levels,
    require_sympy_scipy,
    save_results,
    select_laws,
)
from bench_methods import (
    control_flag,
    equation_refit,
    peers_available,
    read_best,
    run_method,
    timed_discover,
)
from bench_report import fmt_r2
from bench_scoring import Data, Result, agrees, finish
from feynman_laws import LAWS, QUICK, FeynmanLaw
from recovery_laws import Law
from symbolic_check import parse_truth, symbols_for

SEED = 12
ROWS = 10_000
TRAIN_SHARE = 0.75
R2_SOLUTION = 0.999
NOISES = (0.0, 0.001, 0.01, 0.1)
METHODS = ("discover", "pyoperon", "gplearn")
# sympy functions discover can write (tanh through exp); any other one is out of its reach.
WRITABLE = {"exp", "log", "sin", "cos", "tanh"}


def needs(law: FeynmanLaw) -> list[str]:
    """Functions of the truth that discover has no operator for."""
    import sympy
    expr = parse_truth(law.truth, law.ranges)
    return sorted({type(f).__name__ for f in expr.atoms(sympy.Function)} - WRITABLE)


def make_data(law: FeynmanLaw, noise: float, rows: int) -> Data:
    """The equation's rows, the same for every method and noise level (only the noise is added).

    The recovery benchmark's Data carries them, so its peers and its tests run unchanged; the
    held-out rows serve as its test and its fresh rows alike.
    """
    import sympy
    rng = np.random.default_rng([SEED, zlib.crc32(law.name.encode())])
    low = np.array([r[1] for r in law.ranges])
    high = np.array([r[2] for r in law.ranges])
    symbols = symbols_for(law.ranges)
    f = sympy.lambdify([symbols[v] for v in law.variables], parse_truth(law.truth, law.ranges),
                       modules="numpy")
    X = rng.uniform(low, high, size=(rows, len(low)))
    with np.errstate(all="ignore"):
        y = np.asarray(f(*X.T), dtype=np.float64) * np.ones(rows)
    if not np.all(np.isfinite(y)):
        raise SystemExit(f"{law.name}: the truth has no value on some rows of its ranges")
    n_train = round(TRAIN_SHARE * rows)
    y_train = y[:n_train]
    noise_rng = np.random.default_rng([SEED, zlib.crc32(law.name.encode()), 1])
    sigma = noise * float(np.sqrt(np.mean(y_train * y_train)))
    y_noisy = y_train + sigma * noise_rng.standard_normal(n_train) if noise else y_train
    as_law = Law(law.name, "feynman", law.ranges, law.truth, None)
    X_test, y_test = X[n_train:], y[n_train:]
    return Data(as_law, noise, X[:n_train], y_noisy, y_train, X_test, y_test, X_test, y_test)


def has_structure(program: Sequence[Any], d: Data) -> bool:
    refit = equation_refit(program, d)
    return refit is not None and agrees(np.asarray(refit(d.X_fresh)), d.y_fresh)


def run_discover(d: Data, budget: float, options: dict[str, Any], out_of_reach: bool) -> Result:
    res, disc = timed_discover(d, budget, options)
    chosen = read_best(disc, res)
    if chosen is None:
        return res
    eq, model = chosen
    finish(res, d, eq.predict, equation_refit(eq.program, d), True, model)
    floor = getattr(disc, "noise_floor", 1e-12 * float(np.sqrt(np.mean(d.y * d.y))))
    res.extra.update(best_r2=eq.r2, best_rmse=eq.rmse, noise_floor=floor)
    if out_of_reach:
        res.flag = control_flag(eq, floor, res)
    else:
        res.best_is_truth = res.structure
        res.truth_on_front = res.structure or any(has_structure(e.program, d)
                                                  for e in disc.equations)
    return res


# --- the report ---

def cells(r: Result | None, method: str) -> str:
    if r is None:
        return f" | {'':<4} {'':<5} {'':>9} {'':>6}" + (f" {'':<5}" if method == "discover" else "")
    if r.cause.startswith("error"):
        text = f" | {'error':<4} {'':<5} {'':>9} {r.seconds:6.1f}"
    else:
        text = (f" | {'sym' if r.symbolic else '-':<4} {'r2' if r.r2 > R2_SOLUTION else '-':<5} "
                f"{fmt_r2(r.r2):>9} {r.seconds:6.1f}")
    if method == "discover":
        front = ("best" if r.best_is_truth else "yes" if r.truth_on_front else
                 "n/a" if r.truth_on_front is None else "-")
        text += f" {front:<5}"
    return text


def print_table(results: list[Result], laws: Sequence[FeynmanLaw], methods: Sequence[str],
                noise: float, budget: float, n_train: int, out_of_reach: dict[str, list[str]]
                ) -> None:
    by = {(r.law, r.method): r for r in results if r.noise == noise}
    title = "noise-free" if noise == 0 else f"noise {noise:g} x rms(y)"
    print(f"\n## {title}, budget {budget:g} s, {n_train} training rows, seed {SEED}")
    head = f"{'equation':<10}{'vars':>5}"
    for m in methods:
        head += f" | {m[:4]:<4} {'>.999':<5} {'R2 test':>9} {'s':>6}"
        if m == "discover":
            head += f" {'front':<5}"
    print(head + " | discover's formula")
    for law in laws:
        row = f"{law.name:<10}{len(law.variables):>5}"
        for m in methods:
            row += cells(by.get((law.name, m)), m)
        dr = by.get((law.name, "discover"))
        note = f"[needs {', '.join(out_of_reach[law.name])}] " if law.name in out_of_reach else ""
        flag = f" [FLAG: {dr.flag}]" if dr is not None and dr.flag else ""
        print(row + f" | {note}{dr.formula[:60] if dr else ''}{flag}", flush=True)
    print("totals:")
    for m in methods:
        print_totals(m, [by[(law.name, m)] for law in laws if (law.name, m) in by])


def print_totals(method: str, rs: list[Result]) -> None:
    if not rs:
        return
    sym = sum(r.symbolic for r in rs)
    acc = sum(r.r2 > R2_SOLUTION for r in rs)
    r2s = [r.r2 for r in rs if math.isfinite(r.r2)]
    med = float(np.median(r2s)) if r2s else math.nan
    times = [r.seconds for r in rs if math.isfinite(r.seconds)]
    line = (f"  {method:<9} symbolic {sym:>3}/{len(rs):<4} R2 > {R2_SOLUTION} {acc:>3}/{len(rs):<4} "
            f"median R2 {fmt_r2(med)}")
    if method == "discover":
        judged = [r for r in rs if r.truth_on_front is not None]
        front = sum(bool(r.truth_on_front) for r in judged)
        passed = sum(bool(r.truth_on_front and not r.best_is_truth) for r in judged)
        line += f"  truth on front {front:>3}/{len(judged):<4} (not .best: {passed})"
    line += (f"  time total {sum(times):7.1f} s, median "
             f"{float(np.median(times)) if times else math.nan:5.1f} s, "
             f"max {max(times, default=math.nan):5.1f} s")
    print(line)


def print_noise_summary(results: list[Result], methods: Sequence[str],
                        noises: Sequence[float]) -> None:
    print("\n## per noise level: symbolic solutions, R2 > 0.999, discover's truth on the front "
          "(and not chosen), flags")
    for noise in noises:
        rs = [r for r in results if r.noise == noise]
        pieces = []
        for m in methods:
            mine = [r for r in rs if r.method == m]
            if mine:
                pieces.append(f"{m} sym {sum(r.symbolic for r in mine)}/{len(mine)} "
                             f"r2 {sum(r.r2 > R2_SOLUTION for r in mine)}/{len(mine)}")
        disc = [r for r in rs if r.method == "discover"]
        judged = [r for r in disc if r.truth_on_front is not None]
        if judged:
            passed = sorted(r.law for r in judged if r.truth_on_front and not r.best_is_truth)
            pieces.append(f"front {sum(bool(r.truth_on_front) for r in judged)}/{len(judged)} "
                         f"(not .best {len(passed)}{': ' + ', '.join(passed) if passed else ''})")
        flagged = [r.law for r in disc if r.flag]
        if disc:
            pieces.append(f"flagged: {', '.join(flagged) if flagged else 'none'}")
        print(f"  noise {noise:<6g} " + "; ".join(pieces))


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--laws", help="comma-separated equation names such as I.6.2a (default: all)")
    ap.add_argument("--quick", action="store_true", help=f"{len(QUICK)} equations, easy to hard")
    ap.add_argument("--budget", type=float, help="seconds per search (default 60, --quick 20)")
    ap.add_argument("--noise", default=",".join(f"{v:g}" for v in NOISES),
                    help="comma-separated levels, noise = level x rms(y) (default: %(default)s)")
    ap.add_argument("--rows", type=int, default=ROWS,
                    help=f"rows per equation, {TRAIN_SHARE * 100:.0f}%% for training "
                         "(default %(default)s)")
    ap.add_argument("--max-rows", type=int, help="passed to discover")
    ap.add_argument("--max-size", type=int, help="passed to discover")
    ap.add_argument("--peers", action="store_true", help="also run pyoperon and gplearn")
    add_discover_options(ap)
    ap.add_argument("--json", metavar="OUT", help="write every result to this JSON file")
    ap.add_argument("--resume", action="store_true",
                    help="keep the results already in --json and run only the missing ones")
    args = ap.parse_args()

    laws = select_laws(ap, args.laws, args.quick, LAWS, QUICK)
    budget = args.budget if args.budget is not None else (20.0 if args.quick else 60.0)
    noises = noise_levels(ap, args.noise)
    if args.rows < 8:
        ap.error("--rows: at least 8")
    options = {k: v for k, v in (("max_rows", args.max_rows), ("max_size", args.max_size))
               if v is not None} | discover_options(args)
    methods = ["discover"] + (peers_available() if args.peers else [])

    require_sympy_scipy("the Feynman benchmark")
    out_of_reach = {law.name: n for law in laws if (n := needs(law))}
    import vok_math
    vok_math.find_formula([[1.0, 2.0]], [1.0, 2.0], max_complexity=1)  # start the pool untimed
    n_train = round(TRAIN_SHARE * args.rows)
    print(f"# {len(laws)} equations, methods {', '.join(methods)}, budget {budget:g} s, "
          f"noise {', '.join(f'{v:g}' for v in noises)}, load average {os.getloadavg()[0]:.1f}"
          + "".join(f", {k} {v if not isinstance(v, list) else ','.join(map(str, v))}"
                    for k, v in options.items()), flush=True)
    results = load_results(args.json) if args.resume else []
    done = {(r.law, r.noise, r.method) for r in results}
    for noise in noises:
        for law in laws:
            if all((law.name, noise, m) in done for m in methods):
                continue
            d = make_data(law, noise, args.rows)
            for m in methods:
                if (law.name, noise, m) in done:
                    continue
                if m == "discover":
                    try:
                        r = run_discover(d, budget, options, law.name in out_of_reach)
                    except Exception as e:
                        r = Result(law.name, noise, m, cause=f"error: {type(e).__name__}: {e}")
                else:
                    r = run_method(m, d, budget)
                results.append(r)
                print(f"  {law.name:<10} noise {noise:<6g} {m:<9} "
                      f"{'sym' if r.symbolic else '-':<4} R2 {fmt_r2(r.r2):>9} "
                      f"{r.seconds:6.1f} s  {r.formula[:70] or r.cause[:70]}",
                      file=sys.stderr, flush=True)
                save_results(args.json, results)
    for noise in noises:
        print_table(results, laws, methods, noise, budget, n_train, out_of_reach)
    print_noise_summary(results, methods, noises)


if __name__ == "__main__":
    main()
