"""Shared timing helper of the Python benchmark scripts."""
import math
import time


def best_ns_per_item(fn, n, rounds=5):
    """Best wall time of fn() over rounds, in nanoseconds per item of n."""
    best = math.inf
    for _ in range(rounds):
        start = time.perf_counter_ns()
        result = fn()
        elapsed = time.perf_counter_ns() - start
        del result  # freeing is not part of any timing
        best = min(best, elapsed)
    return best / n
