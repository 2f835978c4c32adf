"""The recovery benchmark's printed tables: per noise level, every law by method, the totals,
the symbolic solutions within reach, and the misses with their causes."""

from __future__ import annotations

import math
from collections.abc import Sequence

import numpy as np

from bench_scoring import GOAL_SIZE, N_TRAIN, SEED, Result
from recovery_laws import Law


def fmt_r2(v: float) -> str:
    return "-" if not math.isfinite(v) else f"{max(v, -9.99):.6f}"


def print_table(results: list[Result], laws: Sequence[Law], methods: Sequence[str],
                noise: float, budget: float) -> None:
    by = {(r.law, r.method): r for r in results if r.noise == noise}
    title = "noise-free" if noise == 0 else f"noise {noise:g} x rms(y)"
    print(f"\n## {title}, discover budget {budget:g} s, {N_TRAIN} training rows, seed {SEED}")
    head = f"{'law':<15}{'vars':>4}{'size':>5}"
    for m in methods:
        head += f" | {m[:12]:<12} {'sym':>4} {'R2 test':>9} {'s':>6}"
    print(head + " | discover's formula")
    for law in laws:
        row = f"{law.name:<15}{len(law.variables):>4}{law.size if law.size else '-':>5}"
        for m in methods:
            r = by.get((law.name, m))
            if r is None:
                row += f" | {'':<12} {'':>4} {'':>9} {'':>6}"
                continue
            ok = ("exact" if r.exact else "struct" if r.structure else
                  "error" if r.cause.startswith("error") else "-")
            row += (f" | {ok:<12} {'sym' if r.symbolic else '-':>4} {fmt_r2(r.r2):>9} "
                    f"{r.seconds:6.1f}")
        dr = by.get((law.name, "discover"))
        print(row + (f" | {dr.formula[:60]}" if dr else " |"), flush=True)
    print("totals:")
    small = [law.name for law in laws if law.size is not None and law.size <= GOAL_SIZE]
    for m in methods:
        rs = [by[(law.name, m)] for law in laws if (law.name, m) in by]
        if not rs:
            continue
        ok = sum(r.exact for r in rs)
        ok_small = sum(r.exact for r in rs if r.law in small)
        sym = sum(r.symbolic for r in rs)
        sym_small = sum(r.symbolic for r in rs if r.law in small)
        struct = sum(r.structure and not r.exact for r in rs)
        n_small = sum(r.law in small for r in rs)
        r2s = [r.r2 for r in rs if math.isfinite(r.r2)]
        med = float(np.median(r2s)) if r2s else math.nan
        times = [r.seconds for r in rs if math.isfinite(r.seconds)]
        print(f"  {m:<13} exact {ok:>2}/{len(rs):<3} within {GOAL_SIZE} tokens {ok_small:>2}/"
              f"{n_small:<3} (+{struct} struct), symbolic {sym:>2}/{len(rs):<3} within "
              f"{GOAL_SIZE} tokens {sym_small:>2}/{n_small:<3} median R2 {fmt_r2(med)}  "
              f"time total {sum(times):7.1f} s, "
              f"median {float(np.median(times)) if times else math.nan:5.1f} s, "
              f"max {max(times, default=math.nan):5.1f} s")


def print_noise_summary(results: list[Result], laws: Sequence[Law], methods: Sequence[str],
                        noises: Sequence[float]) -> None:
    """Per noise level: symbolic solutions within reach, the truth passed over, the controls."""
    reach = {law.name for law in laws if law.size is not None and law.size <= GOAL_SIZE}
    controls = {law.name for law in laws if law.size is None}
    print(f"\n## per noise level: symbolic solutions of the laws within {GOAL_SIZE} tokens "
          f"({len(reach)}); for discover, the laws (all but the controls) whose truth is on "
          f"the front but not .best, and the controls ({len(controls)}) claimed exact")
    head = f"{'noise':<7}" + "".join(f"{m[:12]:>14}" for m in methods)
    print(head + f"  {'front, not best':<18} controls claimed exact")
    for noise in noises:
        rs = [r for r in results if r.noise == noise]
        row = f"{noise:<7g}"
        for m in methods:
            mine = [r for r in rs if r.method == m and r.law in reach]
            row += f"{sum(r.symbolic for r in mine):>8}/{len(mine):<5}" if mine else f"{'':>14}"
        disc = [r for r in rs if r.method == "discover"]
        passed = sorted(r.law for r in disc if r.truth_on_front and not r.best_is_truth)
        n_law = sum(r.truth_on_front is not None for r in disc)
        flagged = [f"{r.law} ({r.flag})" for r in disc if r.law in controls and r.flag]
        n_ctrl = sum(r.law in controls for r in disc)
        row += f"  {len(passed):>3}/{n_law:<14}" if disc else f"  {'':<18}"
        row += (("; ".join(flagged) if flagged else f"none of {n_ctrl}") if disc else "")
        print(row)
        if passed:
            print(f"{'':<7}truth on the front, another .best: {', '.join(passed)}")


def print_misses(results: list[Result], laws: Sequence[Law]) -> None:
    sizes = {law.name: law.size for law in laws}
    print("\n## discover misses (laws within 9 tokens first)")
    misses = [r for r in results if r.method == "discover" and not r.exact]
    misses.sort(key=lambda r: (not (sizes[r.law] or 99) <= GOAL_SIZE, r.noise, r.law))
    for r in misses:
        tag = f"size {sizes[r.law]}" if sizes[r.law] else "control"
        print(f"  {r.law:<15} noise {r.noise:<5g} {tag:<8} found (size {r.size}) "
              f"{r.formula[:70]}\n      cause: {r.cause}")
    if any(r.method == "find_formula" for r in results):
        print("\n## find_formula misses")
    for r in results:
        if r.method == "find_formula" and not r.exact:
            print(f"  {r.law:<15} noise {r.noise:<5g} {r.cause:<38} {r.formula[:60]}")
