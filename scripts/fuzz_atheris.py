#!/usr/bin/env python3
"""Coverage-guided fuzzing of the argument converters with atheris.

The input bytes choose the shape of each argument (how many columns and rows, tuple
lengths, list or tuple or lying sequence) and every leaf (float bits, integers, bools,
strings, dunders that raise or empty the list being read), then feed them to the entry
points whose converters they reach: vector of doubles, vector of columns, vector of
pairs, pair tuples, double, unsigned and signed 64-bit, bool, and class instances.
Only Python exceptions or results are acceptable; a crash is libFuzzer's finding.

Native coverage needs the extension built with clang and -fsanitize=fuzzer-no-link;
with a gcc build atheris still mutates guided by the coverage of this file's Python.

    PYTHONPATH=build/release/python python3 scripts/fuzz_atheris.py -runs=200000
"""
import struct
import sys

import atheris

import vok_math.vok_core as vc


class Hostile:
    """A number whose dunders act on the container being converted."""

    def __init__(self, mode, victim):
        self.mode, self.victim = mode, victim

    def _act(self):
        if self.mode == 0:
            raise ValueError("hostile")
        if self.mode == 1:
            self.victim.clear()
        elif self.mode == 2 and len(self.victim) < 32:
            self.victim.extend([1.0, (1.0, 2.0), [0.5]])
        elif self.mode == 3:
            return "wrong type"
        return 1.0

    def __float__(self):
        return self._act()

    def __index__(self):
        out = self._act()
        return 1 if isinstance(out, float) else out


class Lying(list):
    def __len__(self):
        return 2**62


def leaf(fdp, victim):
    kind = fdp.ConsumeIntInRange(0, 9)
    if kind <= 3:
        return struct.unpack("<d", fdp.ConsumeBytes(8).ljust(8, b"\0"))[0]
    if kind == 4:
        return fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 9))  # up to 72-bit signed integers
    if kind == 5:
        return fdp.ConsumeBool()
    if kind == 6:
        return Hostile(fdp.ConsumeIntInRange(0, 4), victim)
    if kind == 7:
        return fdp.ConsumeUnicodeNoSurrogates(3)
    if kind == 8:
        return None
    return vc.VOKPoint(0.0, 1.0)


def sequence(fdp, make_item):
    items = []
    for _ in range(fdp.ConsumeIntInRange(0, 6)):
        items.append(make_item(fdp, items))
    shape = fdp.ConsumeIntInRange(0, 4)
    if shape == 0:
        return tuple(items)
    if shape == 1:
        return Lying(items)
    if shape == 2 and fdp.ConsumeBool():
        return "text"
    return items


def pair_item(fdp, victim):
    n = 2 if fdp.ConsumeIntInRange(0, 5) else fdp.ConsumeIntInRange(0, 3)
    items = tuple(leaf(fdp, victim) for _ in range(n))
    return items if fdp.ConsumeIntInRange(0, 7) else list(items)


def column(fdp, victim):
    return sequence(fdp, leaf) if fdp.ConsumeIntInRange(0, 7) else leaf(fdp, victim)


def small_count(fdp, limit, huge=2**64):
    if fdp.ConsumeIntInRange(0, 5):
        return fdp.ConsumeIntInRange(0, 4)
    n = leaf(fdp, [])
    # Counts that can be had but cost minutes or gigabytes say nothing about the converters.
    return n % limit if type(n) is int and limit <= n < huge else n


def test_one_input(data):
    fdp = atheris.FuzzedDataProvider(data)
    target = fdp.ConsumeIntInRange(0, 5)
    try:
        if target == 0:
            vc.find_formula(sequence(fdp, column), sequence(fdp, leaf), small_count(fdp, 5),
                            small_count(fdp, 51), leaf(fdp, []), leaf(fdp, []), leaf(fdp, []),
                            leaf(fdp, []))
        elif target == 1:
            vc.rotate_phase_n(sequence(fdp, pair_item), sequence(fdp, leaf))
        elif target == 2:
            vc.schrodinger_step_n(sequence(fdp, pair_item), sequence(fdp, leaf), leaf(fdp, []),
                                  leaf(fdp, []))
        elif target == 3:
            vc.simulate_pulses_n(leaf(fdp, []), leaf(fdp, []), small_count(fdp, 1000, 2**40))
        elif target == 4:
            vc.VOKKnot(leaf(fdp, []), leaf(fdp, []), leaf(fdp, []))
        else:
            vc.VOKPoint(0.0, 1.0).conserves_tension(leaf(fdp, []), leaf(fdp, []))
    except Exception:
        pass
    except BaseException as e:  # noqa: B036 -- only the sanctioned internal fault may pass
        if not (type(e).__name__ == "PanicException" and str(e) == "capacity overflow"):
            raise


def main():
    # Instruments this file's Python too, so the shapes reached guide the mutations.
    atheris.instrument_all()
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
