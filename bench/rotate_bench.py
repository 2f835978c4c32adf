"""rotate_phase_n per element against the floor of building the same list of tuples.

Run: PYTHONPATH=<build>/python python3 bench/rotate_bench.py [n]
Prints nanoseconds per element, best of several rounds, and the ratio to each floor.
"""

import gc
import math
import random
import sys

import numpy as np

from timing import best_ns_per_item
from vok_math.vok_core import rotate_phase_n, schrodinger_step_n


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10**6
    rng = random.Random(1)
    real = [rng.uniform(-1, 1) for _ in range(n)]
    imag = [rng.uniform(-1, 1) for _ in range(n)]
    angles = [rng.uniform(-math.pi, math.pi) for _ in range(n)]
    zeros = [0.0] * n
    pairs = list(zip(real, imag))
    real_array, imag_array = np.array(real), np.array(imag)

    cases = {
        # Floors: the output list alone.
        "floor: list(zip(floats, floats))": lambda: list(zip(real, imag)),
        "floor: list(zip(a.tolist(), b.tolist()))": lambda: list(
            zip(real_array.tolist(), imag_array.tolist())
        ),
        # Parts of the call: conversion alone gives an empty output.
        "convert pairs only": lambda: rotate_phase_n(pairs, ()),
        "convert angles only": lambda: rotate_phase_n((), angles),
        "rotate_phase_n, all angles 0 (cheap trig)": lambda: rotate_phase_n(pairs, zeros),
        "rotate_phase_n": lambda: rotate_phase_n(pairs, angles),
        "schrodinger_step_n": lambda: schrodinger_step_n(pairs, angles, 0.1, 1.0),
    }
    for gc_label, toggle in (("gc on", gc.enable), ("gc off", gc.disable)):
        toggle()
        print(f"n = {n}, {gc_label}")
        times = {name: best_ns_per_item(fn, n, rounds=7) for name, fn in cases.items()}
        for name, t in times.items():
            print(f"  {name:42s} {t:7.1f} ns/element")
        for floor in list(times)[:2]:
            print(f"  rotate_phase_n / {floor[7:]:33s} {times['rotate_phase_n'] / times[floor]:5.2f}x")
    gc.enable()


if __name__ == "__main__":
    main()
