#!/usr/bin/env python3
"""A long seeded plain-random fuzz run over every entry point of vok_core and, with
--harness surface or all, over the Python surface (discover, Equation and its exports, load
and every subcommand of the command line; see tests/py/fuzz_surface.py).

Each call is drawn from its own random.Random(seed, index), so any call can be replayed
alone. Before a call runs, its index and arguments overwrite a one-record log file, so
after a crash that file names the input; a call that runs longer than --hang seconds is a
hang: the tracebacks of every thread are printed and the run exits with status 3. Run it on
the release build:

    PYTHONPATH=build/release/python python3 scripts/fuzz_long.py --calls 1000000
    PYTHONPATH=build/release/python python3 scripts/fuzz_long.py --harness surface --seconds 3600
    PYTHONPATH=build/release/python python3 scripts/fuzz_long.py --harness surface --replay 123456
"""
import argparse
import collections
import faulthandler
import os
import random
import sys
import time
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "py"))
import fuzz_calls
import fuzz_surface

RECORD = 8192  # bytes kept of the current call's description
HARNESSES = {"core": fuzz_calls, "surface": fuzz_surface}
# Outcomes that are counted and reported, not failures of this run: the exports' own faults.
EXPORT_FAULTS = ("disagree", "broken-source", "export-error")


def rng_for(seed, index):
    return random.Random(seed * 10_000_019 + index)


def pick(harnesses, rng):
    """The harness and entry of one call: the harnesses by turns, weighted within each."""
    module = harnesses[rng.randrange(len(harnesses))]
    return module, module.pick(rng)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--seconds", type=float, help="stop after this long, whatever --calls")
    parser.add_argument("--harness", choices=[*HARNESSES, "all"], default="core")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--log", default="fuzz_long.current")
    parser.add_argument("--hang", type=float, default=60.0, help="seconds that make a call a hang")
    parser.add_argument("--replay", type=int, help="run only this call, printing it")
    opts = parser.parse_args()
    warnings.simplefilter("ignore")
    harnesses = list(HARNESSES.values()) if opts.harness == "all" else [HARNESSES[opts.harness]]

    if opts.replay is not None:
        rng = rng_for(opts.seed, opts.replay)
        module, name = pick(harnesses, rng)
        outcome = module.one_call(rng, name, lambda *call: print(module.describe(*call), flush=True))
        print(outcome)
        return 0

    fd = os.open(opts.log, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    current = [0, fuzz_calls]

    def log(*call):
        text = f"{opts.seed} {current[0]} {current[1].describe(*call)}".encode(errors="replace")
        os.pwrite(fd, text[:RECORD].ljust(RECORD), 0)

    stats = collections.Counter()
    start = time.monotonic()
    deadline = float("inf")
    if opts.seconds is not None:
        deadline = start + opts.seconds
    done = 0
    for index in range(opts.calls):
        if time.monotonic() > deadline:
            break
        current[0] = index
        rng = rng_for(opts.seed, index)
        module, name = pick(harnesses, rng)
        current[1] = module
        faulthandler.dump_traceback_later(opts.hang, exit=True)
        try:
            stats[name, module.one_call(rng, name, log)] += 1
        except BaseException:
            print(f"call {index} failed (replay: --harness {opts.harness} --seed {opts.seed} "
                  f"--replay {index})", flush=True)
            raise
        finally:
            faulthandler.cancel_dump_traceback_later()
        done = index + 1
        if index % 100_000 == 0 and index:
            print(f"{index} calls, {time.monotonic() - start:.1f} s", flush=True)
    elapsed = time.monotonic() - start
    os.close(fd)
    for (name, outcome), n in sorted(stats.items()):
        print(f"{name:34} {outcome:14} {n}")
    faults = sum(n for (_, outcome), n in stats.items() if outcome in EXPORT_FAULTS)
    print(f"{done} calls without a crash, hang or fault of the surface in {elapsed:.1f} s "
          f"(seed {opts.seed}); export faults counted: {faults}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
