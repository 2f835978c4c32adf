"""Recovery benchmark: which known laws discover(), find_formula and (optionally) two peers find.

    PYTHONPATH=build/release/python python3 bench/recovery_bench.py [--laws a,b] [--budget 60]
        [--noise 0,0.001,0.01,0.1|both|all] [--peers] [--quick] [--json OUT]

The laws are in bench/recovery_laws.py. Per law, with a seed fixed per law name: 200 training
rows drawn uniformly from the law's ranges, 1000 test rows and 1000 fresh rows drawn the same way.
With noise level s the training target is y + s * rms(y) * N(0, 1), rms(y) = sqrt(mean(y^2)) of
the training targets, as SRBench adds its noise (this benchmark used s * std(y) before; the two
differ where y has a large mean). Test and fresh targets are always noise-free. --noise takes a
comma-separated list of levels; "both" (the default) is 0,0.01 and "all" is 0,0.001,0.01,0.1.
Methods run one after another (the machine's cores are shared):

- find_formula: ``find_formula(columns, y)`` with its defaults. Its formula text is evaluated by
  a small translator (its ``to_python()`` takes x alone).
- discover: ``discover(X, y, names=..., time_limit=budget)``, the chosen ``.best`` equation.
- pyoperon (``--peers``, when importable): its SymbolicRegressor with the same operators, its
  defaults, ``max_time=budget`` and two threads (discover uses the two-worker pool).
- gplearn (``--peers``, when importable): SymbolicRegressor (population 1000, mse, the same
  operators; exp added protected) run a few generations at a time until the budget is spent or
  it fits exactly. It gets y standardised, as it has no linear scaling of its own.

Exact recovery (the "ok" column):

- The found structure, with its fitted constants refitted by least squares on the noise-free
  training rows (discover: scale and offset, linear; the peers: every numeric constant, starting
  from theirs; find_formula: nothing to refit), agrees with the truth on the fresh rows:
  max |found - truth| <= 1e-9 * rms(truth), with no missing value. Refitting on noise-free rows
  is what makes the test structural on noisy data: the right structure with noisy constants
  passes, a near miss does not.
- and, for discover, its size is at most the law's size + 2 (the scale and offset; discover's
  sizes count the fitted constants). A formula that small matching a law to 1e-9 on 1000 fresh
  points is the law up to its constants. find_formula fits no constant, so its agreement alone
  makes it the law (written with its own tokens, such as sin(x) + sin(x) for 2 sin(x)). The peers' sizes are not comparable
  (pyoperon weighs every variable), so for them the refitted agreement alone decides.
- and, on noise-free data, the method's own prediction has test NMSE < 1e-10 (NMSE: mean squared
  error over the variance of the test target).

"struct" marks a result whose refitted structure agrees but that fails another test (its size,
or its own test NMSE: pyoperon keeps its constants in single precision, so its own error can stay
above 1e-10 with the right structure).

Symbolic solution (the "sym" column), SRBench's test (bench/symbolic_check.py): the model's
constants rounded to 3 decimals, (model - truth) or (model / truth) simplifies to a constant.
It runs in a child process with a time limit, a timeout counting as a failure. It is blind to
the sizes but stricter on noisy constants (an offset of 0.003 fails it); a tiny scale, such as
larmor's 2e-16, rounds to 0 and fails it.

R² is on the noise-free test rows with the method's own prediction ("-" when it has no value on
some rows). Times are wall seconds. For every law within 9 tokens that discover misses the cause
is diagnosed: the truth in the front but another equation chosen, the truth's size not
completely enumerated within the budget, or the truth's size enumerated but the truth not kept.

Per noise level, the summary gives for each method the laws stated exactly by the symbolic test
out of those within reach (a witness of at most 9 tokens); for discover also how often the truth
(its structure, refitted) is on the front (``d.equations``) but ``.best`` is another equation,
and whether any control is claimed exact: a control's best with training r2 == 1 or an rmse at
the noise floor (``Discovery.noise_floor``), or passing the symbolic test, is flagged.
"""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Sequence
from typing import Any

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
from bench_methods import peers_available, run_method
from bench_report import fmt_r2, print_misses, print_noise_summary, print_table
from bench_scoring import Result, agrees, linear_refit, make_data, parse_witness, program_values
from recovery_laws import LAWS, QUICK, Law

NOISE_SETS = {"both": (0.0, 0.01), "all": (0.0, 0.001, 0.01, 0.1)}
METHODS = ("find_formula", "discover", "pyoperon", "gplearn")


def check_witnesses(laws: Sequence[Law]) -> None:
    """Every witness must equal its truth up to a * f + b: the sizes rest on it."""
    for law in laws:
        if law.witness is None:
            continue
        d = make_data(law, 0.0)
        prog = parse_witness(law)
        a, b = linear_refit(program_values(prog, d.X), d.y_clean)
        fresh = a * program_values(prog, d.X_fresh) + b
        if not agrees(fresh, d.y_fresh):
            raise SystemExit(f"law {law.name}: the witness {law.witness!r} is not the truth")



def command_line() -> tuple[argparse.ArgumentParser, argparse.Namespace]:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--laws", help="comma-separated law names (default: all)")
    ap.add_argument("--budget", type=float, help="seconds per search (default 60, --quick 20)")
    ap.add_argument("--noise", default="both",
                    help="comma-separated levels (noise = level x rms(y)); both: 0,0.01 "
                         "(default); all: 0,0.001,0.01,0.1")
    ap.add_argument("--peers", action="store_true", help="also run pyoperon and gplearn")
    ap.add_argument("--methods", help=f"comma-separated, of {','.join(METHODS)} "
                    "(default: find_formula,discover)")
    ap.add_argument("--quick", action="store_true", help="a small subset of the laws")
    ap.add_argument("--json", metavar="OUT", help="write every result to this JSON file")
    ap.add_argument("--resume", action="store_true",
                    help="keep the results already in --json and run only the missing ones")
    add_discover_options(ap)
    return ap, ap.parse_args()


def run_all(laws: Sequence[Law], methods: Sequence[str], noises: Sequence[float], budget: float,
            options: dict[str, Any], results: list[Result], json_path: str | None) -> None:
    """Every law at every noise level by every method, but those already in results."""
    done = {(r.law, r.noise, r.method) for r in results}
    for noise in noises:
        for law in laws:
            d = make_data(law, noise)
            for m in methods:
                if (law.name, noise, m) in done:
                    continue
                r = run_method(m, d, budget, options)
                results.append(r)
                print(f"  {law.name:<15} noise {noise:<5g} {m:<13} "
                      f"{'exact' if r.exact else '-':<6} {'sym' if r.symbolic else '-':<4} "
                      f"R2 {fmt_r2(r.r2):>9} "
                      f"{r.seconds:6.1f} s  {r.formula[:70]}", file=sys.stderr, flush=True)
                save_results(json_path, results)


def main() -> None:
    ap, args = command_line()
    options = discover_options(args)
    laws = select_laws(ap, args.laws, args.quick, LAWS, QUICK)
    budget = args.budget if args.budget is not None else (20.0 if args.quick else 60.0)
    noises = noise_levels(ap, args.noise, NOISE_SETS)
    methods = args.methods.split(",") if args.methods else ["find_formula", "discover"]
    if args.peers:
        methods += [m for m in peers_available() if m not in methods]
    if set(methods) - set(METHODS):
        ap.error(f"unknown methods: {', '.join(sorted(set(methods) - set(METHODS)))}")

    require_sympy_scipy("the recovery benchmark")
    check_witnesses(laws)
    import vok_math
    vok_math.find_formula([[1.0, 2.0]], [1.0, 2.0], max_complexity=1)  # start the pool untimed
    operators = options.get("operators")
    print(f"# {len(laws)} laws, methods {', '.join(methods)}, budget {budget:g} s, "
          f"load average {os.getloadavg()[0]:.1f}"
          + (f", discover's operators {','.join(operators)}" if operators else ""),
          flush=True)
    results = load_results(args.json) if args.resume else []
    run_all(laws, methods, noises, budget, options, results, args.json)
    for noise in noises:
        print_table(results, laws, methods, noise, budget)
    print_noise_summary(results, laws, methods, noises)
    print_misses(results, laws)


if __name__ == "__main__":
    main()
