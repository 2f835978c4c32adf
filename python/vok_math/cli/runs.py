"""``vok-math show`` and ``vok-math predict``: a saved run's front, and its formula on new data."""

from __future__ import annotations

import argparse
import csv
from collections.abc import Iterable, Iterator, Sequence
from pathlib import Path
from typing import Any, TextIO

import numpy as np
import numpy.typing as npt

from vok_math.cli.options import positive
from vok_math.cli.report import chosen, print_result
from vok_math.cli.status import EXIT_FOUND, EXIT_NOTHING, InputError
from vok_math.cli.table import Cells, formula_names, read_cells
from vok_math.data import default_names
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


def _lookup_names(cells: Cells, features: list[str]) -> list[str]:
    """The names the run's variables are looked up by, one per column of the file.

    A header names the columns (as formulas name them). Without one, a file as wide as the
    run's variables holds them in order, and a file like the one the run was trained on
    (every column but the last a feature) is named as discover named that file.
    """
    if cells.has_header:
        return formula_names(cells.names)
    width = len(cells.names)
    if width == len(features):
        return features
    trained = [*default_names(width - 1), "y"] if width > 1 else []
    if set(features) <= set(trained):
        return trained
    raise InputError(f"{cells.source}: no header line, and {width} column"
                     f"{'s' if width != 1 else ''} where the run reads {len(features)} "
                     f"({', '.join(features)}): add a header line naming the columns")


def cmd_predict(args: argparse.Namespace, out: TextIO) -> int:
    """``vok-math predict``; returns the exit status."""
    discovery = load_run(args.run_file)
    equation = _equation(discovery, args.equation, args.run_file)
    cells = read_cells(args.data, search=False)
    features = list(discovery.names)
    names = _lookup_names(cells, features)
    missing = [name for name in features if name not in names]
    if missing:
        raise InputError(f"{cells.source}: no column {', '.join(map(repr, missing))}; the run "
                         f"needs {', '.join(features)}")
    # Only the run's variables must be numbers; the other columns are passed through.
    X = cells.numbers([names.index(name) for name in features])
    predicted = np.asarray(equation.predict(X), dtype=np.float64)
    header = [*(cells.names if cells.has_header else names), "predicted"]
    rows = _output_rows(cells, predicted)
    if args.output is None:
        _write_csv(out, header, rows)
        return EXIT_FOUND
    try:
        with open(args.output, "w", newline="", encoding="utf-8") as f:
            _write_csv(f, header, rows)
    except OSError as exc:
        raise InputError(f"{args.output}: cannot write: {exc.strerror}") from None
    return EXIT_FOUND


def _output_rows(cells: Cells, predicted: npt.NDArray[np.float64]) -> Iterator[tuple[str, ...]]:
    """The file's rows with the prediction added: a column of numbers written by repr (the
    shortest text that reads back as the same double), any other column as it was."""
    columns = []
    for j in range(len(cells.names)):
        try:
            columns.append(list(map(repr, cells.numbers([j])[:, 0].tolist())))
        except InputError:
            columns.append(cells.text[:, j].tolist())
    columns.append(list(map(repr, predicted.tolist())))
    return zip(*columns, strict=True)


def _write_csv(stream: TextIO, header: list[str], rows: Iterable[Sequence[str]]) -> None:
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(header)
    writer.writerows(rows)
