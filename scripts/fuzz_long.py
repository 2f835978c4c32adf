#!/usr/bin/env python3
"""A long seeded plain-random fuzz run over every entry point of vok_core.

Each call is drawn from its own random.Random(seed, index), so any call can be replayed
alone. Before a call runs, its index and arguments overwrite a one-record log file, so
after a crash that file names the input. Run it on the release build:

    PYTHONPATH=build/release/python python3 scripts/fuzz_long.py --calls 1000000
    PYTHONPATH=build/release/python python3 scripts/fuzz_long.py --replay 123456
"""
import argparse
import collections
import os
import random
import sys
import time
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "py"))
import fuzz_calls

RECORD = 8192  # bytes kept of the current call's description


def rng_for(seed, index):
    return random.Random(seed * 10_000_019 + index)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--log", default="fuzz_long.current")
    parser.add_argument("--replay", type=int, help="run only this call, printing it")
    opts = parser.parse_args()
    warnings.simplefilter("ignore")

    if opts.replay is not None:
        rng = rng_for(opts.seed, opts.replay)
        name = fuzz_calls.pick(rng)
        outcome = fuzz_calls.one_call(
            rng, name, lambda *call: print(fuzz_calls.describe(*call), flush=True))
        print(outcome)
        return 0

    fd = os.open(opts.log, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    current = [0]

    def log(*call):
        text = f"{opts.seed} {current[0]} {fuzz_calls.describe(*call)}".encode(errors="replace")
        os.pwrite(fd, text[:RECORD].ljust(RECORD), 0)

    stats = collections.Counter()
    start = time.monotonic()
    for index in range(opts.calls):
        current[0] = index
        rng = rng_for(opts.seed, index)
        name = fuzz_calls.pick(rng)
        stats[name, fuzz_calls.one_call(rng, name, log)] += 1
        if index % 100_000 == 0 and index:
            print(f"{index} calls, {time.monotonic() - start:.1f} s", flush=True)
    elapsed = time.monotonic() - start
    os.close(fd)
    for (name, outcome), n in sorted(stats.items()):
        print(f"{name:34} {outcome:8} {n}")
    print(f"{opts.calls} calls without a crash in {elapsed:.1f} s (seed {opts.seed})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
