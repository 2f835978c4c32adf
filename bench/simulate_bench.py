"""simulate_pulses_n per step against the same trajectory built in pure Python.

Run: PYTHONPATH=<build>/python python3 bench/simulate_bench.py [n]
Prints nanoseconds per step, best of several rounds, and the ratios.
"""

import gc
import math
import sys

from timing import best_ns_per_item
from vok_math.vok_core import VOKPoint, simulate_pulses_n

SLIP_THRESHOLD = 709.78
LN_FLOOR = 1e-300


def guarded_exp(a):
    return math.exp(math.log(a)) if a > SLIP_THRESHOLD else math.exp(a)


def pulse_clamp(y):
    return max(abs(y), LN_FLOOR) if y <= 0.0 else y


def python_trajectory(x, y, n):
    """The same records in pure Python: one exp and one log per step, as the native loop."""
    exp, log = guarded_exp, math.log
    t = exp(x) - log(pulse_clamp(y))
    out = [(x, y, t)]
    append = out.append
    for _ in range(n):
        x, y = pulse_clamp(y), t
        t = exp(x) - log(pulse_clamp(y))
        append((x, y, t))
    return out


def point_trajectory(x, y, n):
    """Through VOKPoint objects: one pulse and one tension call per step."""
    p = VOKPoint(x, y)
    out = [(p.x, p.y, p.tension())]
    append = out.append
    for _ in range(n):
        p = p.mirror_pulse()
        append((p.x, p.y, p.tension()))
    return out


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10**6
    x0, y0 = 0.5, 2.0
    native = simulate_pulses_n(x0, y0, n)
    if native != python_trajectory(x0, y0, n) or native != point_trajectory(x0, y0, n):
        sys.exit("the trajectories differ")
    columns = [list(c) for c in zip(*native)]
    del native

    cases = {
        "floor: list(zip(xs, ys, ts))": lambda: list(zip(*columns)),
        "simulate_pulses_n": lambda: simulate_pulses_n(x0, y0, n),
        "pure Python loop": lambda: python_trajectory(x0, y0, n),
        "VOKPoint loop": lambda: point_trajectory(x0, y0, n),
    }
    for gc_label, toggle in (("gc on", gc.enable), ("gc off", gc.disable)):
        toggle()
        print(f"n = {n} steps, {gc_label}")
        times = {name: best_ns_per_item(fn, n) for name, fn in cases.items()}
        for name, t in times.items():
            print(f"  {name:30s} {t:7.1f} ns/step")
        native_t = times["simulate_pulses_n"]
        print(f"  pure Python / simulate_pulses_n    {times['pure Python loop'] / native_t:5.2f}x")
        print(f"  simulate_pulses_n / floor          {native_t / times['floor: list(zip(xs, ys, ts))']:5.2f}x")
    gc.enable()


if __name__ == "__main__":
    main()
