"""``vok-math show`` and ``vok-math predict``: a saved run's front, and its formula on new data."""

from __future__ import annotations

import argparse
import csv
import dataclasses
from pathlib import Path
from typing import Any, TextIO

import numpy as np
import numpy.typing as npt

from vok_math.cli.options import positive
from vok_math.cli.report import chosen, print_result
from vok_math.cli.status import EXIT_FOUND, EXIT_NOTHING, InputError
from vok_math.cli.table import formula_names, read_table
from vok_math.discovery import Discovery, load
from vok_math.equation import Equation

__all__ = ["add_parsers", "cmd_predict", "cmd_show", "load_run"]


def add_parsers(commands: Any) -> None:
    """Adds ``show`` and ``predict`` to the subcommands."""
    show = commands.add_parser("show", help="print the front of a saved run",
                               description="Print the front and the chosen formula of a run "
                                           "saved with --json.")
    show.add_argument("run_file", metavar="RUN.json")
    show.set_defaults(run=cmd_show)

    predict = commands.add_parser(
        "predict", help="evaluate a saved run's formula on new data",
        description="Evaluate a saved run's formula on the rows of a CSV file and write them "
                    "with a 'predicted' column added.")
    predict.add_argument("run_file", metavar="RUN.json")
    predict.add_argument("data", metavar="NEW.csv", help="needs the run's feature columns "
                                                         "('-' reads stdin)")
    predict.add_argument("--equation", metavar="SIZE", type=positive(int),
                         help="use the front's formula of this size (default: the chosen one)")
    predict.add_argument("-o", "--output", metavar="OUT.csv", type=Path,
                         help="write here (default: stdout)")
    predict.set_defaults(run=cmd_predict)


def load_run(path: str) -> Discovery:
    """The run saved at ``path``; problems are input errors naming the file."""
    try:
        return load(path)
    except FileNotFoundError:
        raise InputError(f"{path}: no such file") from None
    except (OSError, ValueError, KeyError, TypeError) as exc:
        message = str(exc)
        raise InputError(message if message.startswith(path) else f"{path}: {message}") from None


def cmd_show(args: argparse.Namespace, out: TextIO) -> int:
    """``vok-math show``; returns the exit status."""
    discovery = load_run(args.run_file)
    print_result(discovery, None, out, forms=True)
    return EXIT_FOUND if chosen(discovery) is not None else EXIT_NOTHING


def _equation(discovery: Discovery, size: int | None, source: str) -> Equation:
    if size is None:
        best = chosen(discovery)
        if best is None:
            raise InputError(f"{source}: the run has no formula")
        return best
    for equation in discovery.equations:
        if equation.size == size:
            return equation
    sizes = ", ".join(str(e.size) for e in discovery.equations)
    raise InputError(f"{source}: no formula of size {size}; the sizes are {sizes}")


def cmd_predict(args: argparse.Namespace, out: TextIO) -> int:
    """``vok-math predict``; returns the exit status."""
    discovery = load_run(args.run_file)
    equation = _equation(discovery, args.equation, args.run_file)
    table = read_table(args.data, search=False)
    features = list(discovery.names)
    if not table.has_header and len(table.names) == len(features):
        # Without a header, the columns are the run's variables in order.
        table = dataclasses.replace(table, names=features)
    # The run knows its columns by their names in formulas.
    names = formula_names(table.names)
    missing = [name for name in features if name not in names]
    if missing:
        raise InputError(f"{table.source}: no column {', '.join(map(repr, missing))}; the run "
                         f"needs {', '.join(features)}")
    X = table.values[:, [names.index(name) for name in features]]
    predicted = np.asarray(equation.predict(X), dtype=np.float64)
    rows = np.column_stack([table.values, predicted])
    if args.output is None:
        _write_csv(out, [*table.names, "predicted"], rows)
        return EXIT_FOUND
    try:
        with open(args.output, "w", newline="", encoding="utf-8") as f:
            _write_csv(f, [*table.names, "predicted"], rows)
    except OSError as exc:
        raise InputError(f"{args.output}: cannot write: {exc.strerror}") from None
    return EXIT_FOUND


def _write_csv(stream: TextIO, header: list[str], rows: npt.NDArray[np.float64]) -> None:
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(header)
    # repr gives the shortest text that reads back as the same double.
    writer.writerows(map(lambda row: map(repr, row), rows.tolist()))
