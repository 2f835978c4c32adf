"""``vok-math discover``: search a CSV file and print the front; and the shipped samples' run."""

from __future__ import annotations

import argparse
import os
import sys
import tempfile
import warnings
from importlib import resources
from pathlib import Path
from typing import Any, TextIO

import numpy as np
import numpy.typing as npt

from vok_math import plots
from vok_math.cli.options import add_run_options, add_search_options, search_options
from vok_math.cli.report import chosen, print_result
from vok_math.cli.scheduler import connect
from vok_math.cli.status import EXIT_FOUND, EXIT_INTERRUPTED, EXIT_NOTHING, InputError
from vok_math.cli.table import formula_names, parse_table, read_table, split_columns
from vok_math.discovery import SearchInterruptedWarning, discover
from vok_math.state import shown

__all__ = ["DEMO_FIGURE", "SAMPLES", "add_parser", "cmd_discover", "run_demo", "run_discover"]

SAMPLES = "default_samples.csv"
DEMO_FIGURE = "vok-math-samples.png"


def add_parser(commands: Any, epilog: str) -> None:
    """Adds ``discover`` to the subcommands."""
    find = commands.add_parser(
        "discover", help="search a CSV file for formulas", epilog=epilog,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Search a CSV file for formulas of its target column and print the front: "
                    "for each size, the most accurate formula found.")
    find.add_argument("data", metavar="DATA.csv", help="the data ('-' reads stdin)")
    add_search_options(find)
    find.add_argument("--json", metavar="OUT.json", type=Path, help="save the run")
    find.add_argument("--plot", metavar="OUT.png", type=Path,
                      help="write a figure: fit, residuals and front (.png or .svg)")
    add_run_options(find)
    find.set_defaults(run=cmd_discover)


def _check_output(path: Path | None, suffixes: tuple[str, ...], option: str) -> None:
    """Refuses an output path before the search rather than after it."""
    if path is None:
        return
    if path.suffix.lower() not in suffixes:
        raise InputError(f"{option} {path}: the file name must end in {' or '.join(suffixes)}")
    if not path.parent.is_dir():
        raise InputError(f"{option} {path}: no directory {str(path.parent)!r}")


def _need_matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise InputError("--plot needs matplotlib: pip install matplotlib") from None


def run_discover(X: npt.NDArray[np.float64], y: npt.NDArray[np.float64], names: list[str],
                 target: str, options: dict[str, Any], out: TextIO, *,
                 json: Path | None = None, plot: Path | None = None) -> int:
    """Runs the search, prints it, writes the requested files; returns the exit status."""
    print(f"Searching {len(y)} rows for {target} as a function of {', '.join(names)}", file=out,
          flush=True)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            discovery = discover(X, y, names=names, **options)
        except (ValueError, TypeError) as exc:
            raise InputError(f"vok-math: {exc}") from None
    for warning in caught:
        # An interruption is reported below, once the front is printed.
        if not issubclass(warning.category, SearchInterruptedWarning):
            print(f"vok-math: warning: {warning.message}", file=sys.stderr)
    print_result(discovery, target, out, forms=True)
    if chosen(discovery) is None:
        print("No formula could be evaluated on these data.", file=out)
        return EXIT_NOTHING
    try:
        if json is not None:
            discovery.save(json)
            print(f"saved:  {json}", file=out)
        if plot is not None:
            plots.plot_discovery(discovery, plot, X=X, y=y, target=target)
            print(f"figure: {plot}", file=out)
    except OSError as exc:
        raise InputError(f"{exc.filename}: cannot write: {exc.strerror}") from None
    if discovery.stopped == "interrupted":
        print("vok-math: interrupted: the front above is what was found so far",
              file=sys.stderr)
        return EXIT_INTERRUPTED
    return EXIT_FOUND


def cmd_discover(args: argparse.Namespace, out: TextIO) -> int:
    """``vok-math discover``; returns the exit status."""
    _check_output(args.json, (".json",), "--json")
    _check_output(args.plot, (".png", ".svg"), "--plot")
    if args.plot is not None:
        _need_matplotlib()
    table = read_table(args.data)
    if not table.has_header:
        print(f"vok-math: note: {table.source} has no header line; the columns are called "
              f"{', '.join(table.names)}", file=sys.stderr)
    X, y, columns, target = split_columns(table, args.target, args.features, args.weights)
    weights = {"sample_weight": table.column(args.weights)} if args.weights else {}
    names = formula_names(columns)
    # A formula name is an identifier: shown without the quotes a column name needs.
    renamed = [f"{shown(column)} is {shown(name)[1:-1]}"
               for column, name in zip(columns, names, strict=True) if column != name]
    if renamed:
        print(f"vok-math: note: in formulas, {', '.join(renamed)}", file=sys.stderr)
    with connect(args.scheduler) as client:
        options = search_options(args) | weights | (
            {"client": client} if client is not None else {})
        return run_discover(X, y, names, target, options, out, json=args.json, plot=args.plot)


def run_demo(out: TextIO) -> int:
    """The shipped samples, end to end: the front, the chosen formula and a figure."""
    samples = resources.files("vok_math").joinpath(SAMPLES)
    table = parse_table(samples.read_text("utf-8"), SAMPLES)
    X, y, names, target = split_columns(table)
    print("No data given: running the samples shipped with vok_math (P = V**2/R).\n"
          "For your own data: vok-math discover DATA.csv (vok-math --help for more).\n", file=out)
    # The figure goes where the user is, unless that is not writable.
    folder = Path.cwd() if os.access(".", os.W_OK) else Path(tempfile.gettempdir())
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        print("(no figure: matplotlib is not installed)", file=out)
        figure = None
    else:
        figure = folder / DEMO_FIGURE
    progress = sys.stderr.isatty()
    return run_discover(X, y, names, target, {"progress": progress}, out, plot=figure)
