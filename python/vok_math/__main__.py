"""Runs a formula discovery on a data set and prints what it found.

Without arguments it uses the samples shipped with the package (the power
dissipated in a resistor); give a CSV file whose last column is the target to
search your own data.
"""

from __future__ import annotations

import argparse
import csv
import io
import time
from importlib import resources

from vok_math.vok_core import find_formula


def read_samples(text: str) -> tuple[list[str], list[list[float]], list[float]]:
    lines = [line for line in text.splitlines() if line.strip() and not line.startswith("#")]
    reader = csv.reader(io.StringIO("\n".join(lines)))
    header = next(reader)
    rows = [[float(cell) for cell in row] for row in reader]
    columns = [[row[i] for row in rows] for i in range(len(header) - 1)]
    return header, columns, [row[-1] for row in rows]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="vok-math", description=__doc__.splitlines()[0])
    parser.add_argument("csv", nargs="?", help="samples: one column per variable, target last")
    parser.add_argument("--max-complexity", type=int, default=8)
    parser.add_argument("--beam-width", type=int, default=2000)
    args = parser.parse_args(argv)

    if args.csv:
        with open(args.csv, encoding="utf-8") as f:
            text = f.read()
    else:
        text = resources.files("vok_math").joinpath("default_samples.csv").read_text("utf-8")
    header, columns, target = read_samples(text)
    variables = ", ".join(f"{name} as {chr(120 + i)}" for i, name in enumerate(header[:-1]))
    print(f"Searching {len(target)} samples of {header[-1]} over {variables}")

    start = time.perf_counter()
    result = find_formula(columns, target, max_complexity=args.max_complexity,
                          beam_width=args.beam_width)
    elapsed = time.perf_counter() - start
    if result is None:
        print("No formula could be evaluated on these samples.")
        return 1
    print(f"formula:    {result.formula}")
    print(f"error:      {result.error:.3e}")
    print(f"complexity: {result.complexity}")
    print(f"LaTeX:      {result.to_latex()}")
    print("Python:")
    for line in result.to_python().splitlines():
        print(f"    {line}")
    print(f"time:       {elapsed * 1000:.1f} ms")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
