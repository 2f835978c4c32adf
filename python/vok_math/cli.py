"""The ``vok-math`` command line: find formulas in a CSV file, show a saved run, predict with it.

Every problem with the user's input is one line on stderr and exit status 2, never a traceback.
Exit statuses: 0 a formula was found, 1 nothing could be evaluated, 2 usage or input error,
130 interrupted (after printing the front found so far).
"""

from __future__ import annotations

import argparse
import csv
import dataclasses
import io
import itertools
import keyword
import os
import sys
import tempfile
import warnings
from collections.abc import Iterator, Sequence
from importlib import resources
from pathlib import Path
from typing import TYPE_CHECKING, Any, TextIO

import numpy as np
import numpy.typing as npt

from vok_math import __version__
from vok_math.data import default_names

if TYPE_CHECKING:
    from vok_math.discovery import Discovery, Equation

EXIT_FOUND = 0
EXIT_NOTHING = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

DELIMITERS = ",;\t"
SAMPLES = "default_samples.csv"
DEMO_FIGURE = "vok-math-samples.png"
# Lines the delimiter sniffer looks at: enough to see a pattern, few enough to stay fast.
SNIFF_LINES = 20

EXAMPLES = """\
examples:
  vok-math                                   run the shipped samples (P = V**2/R)
  vok-math discover data.csv                 the last column is the target
  vok-math discover data.csv --target P --features V,R --time-limit 30
  vok-math discover data.csv --json run.json --plot fit.png
  cat data.csv | vok-math discover -         read the data from stdin
  vok-math show run.json                     the front of a saved run
  vok-math predict run.json new.csv -o predicted.csv

CSV files: a header line of column names (detected when absent), columns separated by commas,
semicolons or tabs, '#' starts a comment line. Every cell must be a finite number.
exit status: 0 found, 1 nothing could be evaluated, 2 usage or input error, 130 interrupted"""


class InputError(Exception):
    """A problem with the user's input, reported as one line (``FILE:LINE: ...``), exit status 2."""


@dataclasses.dataclass(frozen=True)
class Table:
    """The numbers of a CSV file, with what is needed to point at any cell in a message.

    Attributes
    ----------
    source : str
        The file name as the user gave it (``<stdin>`` for ``-``).
    names : list of str
        One name per column: the header's, or ``x0, x1, ..., y`` when the file has none.
    values : ndarray of float64, shape (n_rows, n_columns)
        Every cell, all finite.
    lines : ndarray of int, shape (n_rows,)
        The line of the file each row starts on.
    has_header : bool
        Whether the first line named the columns.
    """

    source: str
    names: list[str]
    values: npt.NDArray[np.float64]
    lines: npt.NDArray[np.int64]
    has_header: bool

    def column(self, name: str) -> npt.NDArray[np.float64]:
        """The values of the column called `name`."""
        return self.values[:, self.names.index(name)]


class _NumberedLines:
    """Feeds the csv reader a file's lines without comment lines, remembering where each row starts."""

    def __init__(self, text: str) -> None:
        self._text = text
        self.row_line = 0
        self._starting = True

    def next_row(self) -> None:
        self._starting = True

    def __iter__(self) -> Iterator[str]:
        # newline="" keeps line ends as they are, which is what the csv module wants.
        for number, raw in enumerate(io.StringIO(self._text, newline=""), start=1):
            if self._starting:
                if raw.lstrip().startswith("#"):
                    continue
                self.row_line, self._starting = number, False
            yield raw


def _sniff_delimiter(text: str) -> str:
    """The delimiter of a CSV text: comma, semicolon or tab."""
    head = itertools.islice(io.StringIO(text), SNIFF_LINES * 2)
    lines = [line for line in head if line.strip() and not line.lstrip().startswith("#")]
    lines = lines[:SNIFF_LINES]
    if not lines:
        return ","
    try:
        return csv.Sniffer().sniff("".join(lines), delimiters=DELIMITERS).delimiter
    except csv.Error:
        # The sniffer wants a consistent pattern; a short row breaks it. The header decides then.
        counts = [lines[0].count(d) for d in DELIMITERS]
        return DELIMITERS[counts.index(max(counts))] if max(counts) else ","


def _is_number(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


def _cell_problem(cell: str, delimiter: str) -> str:
    """Why one cell is not usable, as the end of a message."""
    text = cell.strip()
    if not text:
        return "empty cell"
    if _is_number(text):
        return f"{text!r} is not a finite number"
    if delimiter != "," and "," in text and _is_number(text.replace(",", ".", 1)):
        return f"{text!r} is not a number (write decimals with a point: {text.replace(',', '.', 1)})"
    return f"{text!r} is not a number"


def parse_table(text: str, source: str, search: bool = True) -> Table:
    """Reads CSV text into a :class:`Table`, or raises :class:`InputError` naming the first problem.

    Parameters
    ----------
    text : str
        The whole file, already decoded (a leading byte order mark is dropped).
    source : str
        The file name used in messages.
    search : bool
        The table is for a search: it needs a target column besides the features (for
        predictions every column can be a feature).

    Examples
    --------
    >>> t = parse_table("# a comment\\nV;R;P\\n1;2;0.5\\n2;4;1\\n", "data.csv")
    >>> t.names, t.values.tolist(), t.lines.tolist()
    (['V', 'R', 'P'], [[1.0, 2.0, 0.5], [2.0, 4.0, 1.0]], [3, 4])
    >>> parse_table("V,R,P\\n1,2,0.5\\n2,,1\\n", "data.csv")
    Traceback (most recent call last):
    ...
    vok_math.cli.InputError: data.csv:3: column R: empty cell
    """
    text = text.removeprefix("\ufeff")
    delimiter = _sniff_delimiter(text)
    lines = _NumberedLines(text)
    reader = csv.reader(lines, delimiter=delimiter, skipinitialspace=True, strict=True)
    rows: list[list[str]] = []
    numbers: list[int] = []
    try:
        while True:
            lines.next_row()
            try:
                row = next(reader)
            except StopIteration:
                break
            if any(cell.strip() for cell in row) or len(row) > 1:
                rows.append(row)
                numbers.append(lines.row_line)
    except csv.Error as exc:
        raise InputError(f"{source}:{lines.row_line}: {exc}") from None
    if not rows:
        what = "empty file" if not text.strip() else "no rows, only comments"
        raise InputError(f"{source}: {what}: expected a header line and rows of numbers")

    first = [cell.strip() for cell in rows[0]]
    has_header = not all(_is_number(cell) for cell in first)
    if has_header:
        names, rows, numbers, header_line = first, rows[1:], numbers[1:], numbers[0]
        for i, name in enumerate(names):
            if not name:
                raise InputError(f"{source}:{header_line}: column {i + 1} has no name")
            if name in names[:i]:
                raise InputError(f"{source}:{header_line}: column name {name!r} appears twice")
    else:
        # discover()'s own default names for the features, then the target.
        names = [*default_names(len(first) - search), *(["y"] if search else [])]
    if len(names) < 1 + search:
        raise InputError(f"{source}: one column ({names[0]}): need at least one feature column "
                         f"and a target column, separated by ',', ';' or tabs")
    if not rows:
        raise InputError(f"{source}: no data rows after the header")

    width = len(names)
    lengths = np.array([len(row) for row in rows])
    wrong = np.flatnonzero(lengths != width)
    if wrong.size:
        i = int(wrong[0])
        raise InputError(f"{source}:{numbers[i]}: {lengths[i]} cells, but "
                         f"{'the header names' if has_header else 'the first row has'} "
                         f"{width} columns")

    cells = np.array(rows, dtype=str)
    try:
        values = cells.astype(np.float64)
        bad = ~np.isfinite(values)
    except ValueError:
        # Only on the error path: find the first cell numpy could not read.
        bad = ~np.vectorize(_is_number, otypes=[bool])(cells)
        values = np.zeros(cells.shape)
    if bad.any():
        i, j = (int(k) for k in np.argwhere(bad)[0])
        raise InputError(f"{source}:{numbers[i]}: column {names[j]}: "
                         f"{_cell_problem(cells[i, j], delimiter)}")
    return Table(source, names, values, np.array(numbers, dtype=np.int64), has_header)


def read_table(path: str, search: bool = True, stdin: TextIO | None = None) -> Table:
    """Reads a CSV file (``-`` for stdin) into a :class:`Table`; problems raise :class:`InputError`."""
    if path == "-":
        stream = stdin or sys.stdin
        source = "<stdin>"
        data = stream.buffer.read() if hasattr(stream, "buffer") else stream.read().encode()
    else:
        source = path
        try:
            data = Path(path).read_bytes()
        except FileNotFoundError:
            raise InputError(f"{path}: no such file") from None
        except IsADirectoryError:
            raise InputError(f"{path}: is a directory, not a CSV file") from None
        except OSError as exc:
            raise InputError(f"{path}: cannot read: {exc.strerror}") from None
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as exc:
        line = data[: exc.start].count(b"\n") + 1
        raise InputError(f"{source}:{line}: not UTF-8 text (byte 0x{data[exc.start]:02x}); "
                         f"save the file as UTF-8") from None
    return parse_table(text, source, search)


def split_columns(table: Table, target: str | None = None,
                  features: Sequence[str] | None = None
                  ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], list[str], str]:
    """The feature matrix, the target and their names: by default the last column is the target.

    Examples
    --------
    >>> t = parse_table("a,b,c\\n1,2,3\\n4,5,6\\n", "t.csv")
    >>> X, y, names, target = split_columns(t, target="a")
    >>> X.tolist(), y.tolist(), names, target
    ([[2.0, 3.0], [5.0, 6.0]], [1.0, 4.0], ['b', 'c'], 'a')
    """
    def check(name: str, what: str) -> str:
        if name not in table.names:
            raise InputError(f"{table.source}: no column {name!r} for the {what}; "
                             f"the columns are {', '.join(table.names)}")
        return name

    target = check(target, "target") if target is not None else table.names[-1]
    if features is None:
        features = [name for name in table.names if name != target]
    else:
        features = [check(name, "features") for name in features]
        if target in features:
            raise InputError(f"{table.source}: column {target!r} is the target; "
                             f"it cannot also be a feature")
        if len(set(features)) != len(features):
            raise InputError(f"{table.source}: a feature is named twice in --features")
        if not features:
            raise InputError(f"{table.source}: --features names no column")
    index = [table.names.index(name) for name in features]
    return table.values[:, index], table.column(target), list(features), target


def formula_names(names: Sequence[str]) -> list[str]:
    """Column names as the variable names of formulas: Python identifiers, all distinct.

    Examples
    --------
    >>> formula_names(["mass (kg)", "v", "2nd", "lambda", "v_2", "v"])
    ['mass_kg', 'v', 'x2nd', 'lambda_', 'v_2', 'v_3']
    """
    out: list[str] = []
    for name in names:
        text = "".join(c if ("a" + c).isidentifier() else " " for c in name)
        text = "_".join(text.split()) or "x"
        text = "x" + text if not text.isidentifier() else text
        text = text + "_" if keyword.iskeyword(text) else text
        unique, k = text, 2
        while unique in out:
            unique, k = f"{text}_{k}", k + 1
        out.append(unique)
    return out


def _names(text: str) -> list[str]:
    return [part.strip() for part in text.split(",") if part.strip()]


def _constants(text: str) -> list[float]:
    try:
        return [float(part) for part in _names(text)]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a list of numbers: {text!r}") from None


def _positive(kind: type[int] | type[float]) -> Any:
    def parse(text: str) -> int | float:
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
        if not value > 0:
            raise argparse.ArgumentTypeError(f"must be positive: {text!r}")
        return value
    parse.__name__ = kind.__name__
    return parse


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of ``vok-math`` and its three subcommands."""
    parser = argparse.ArgumentParser(
        prog="vok-math", formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Find closed-form formulas that fit data: the Pareto front of accuracy "
                    "against size.\nWithout a subcommand, runs the samples shipped with the "
                    "package.",
        epilog=EXAMPLES)
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")

    find = commands.add_parser(
        "discover", help="search a CSV file for formulas", epilog=EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Search a CSV file for formulas of its target column and print the front: "
                    "for each size, the most accurate formula found.")
    find.add_argument("data", metavar="DATA.csv", help="the data ('-' reads stdin)")
    find.add_argument("--target", metavar="NAME", help="the column to explain (default: the last)")
    find.add_argument("--features", metavar="A,B,...", type=_names,
                      help="the columns to use as variables (default: all but the target)")
    find.add_argument("--time-limit", metavar="S", type=_positive(float),
                      help="stop after S seconds with the front found so far")
    find.add_argument("--max-size", metavar="N", type=_positive(int),
                      help="largest formula size in tokens (variables, constants, operators)")
    find.add_argument("--max-evaluations", metavar="N", type=_positive(int),
                      help="stop after scoring N candidates (the same result on any machine)")
    find.add_argument("--operators", metavar="OP,...", type=_names,
                      help="operators to build with, e.g. add,sub,mul,div,sqrt "
                           "(neg inv exp ln sqrt sin cos abs add sub mul div vok)")
    find.add_argument("--constants", metavar="C,...", type=_constants,
                      help="constant leaves (default: 0,1)")
    find.add_argument("--no-scaling", action="store_true",
                      help="fit the formula as is, without the fitted a*f + b")
    find.add_argument("--threads", metavar="N", type=_positive(int), help="worker threads")
    find.add_argument("--json", metavar="OUT.json", type=Path, help="save the run")
    find.add_argument("--plot", metavar="OUT.png", type=Path,
                      help="write a figure: fit, residuals and front (.png or .svg)")
    find.add_argument("--no-progress", action="store_true",
                      help="no progress bar (it is shown only on a terminal)")
    find.set_defaults(run=cmd_discover)

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
    predict.add_argument("--equation", metavar="SIZE", type=_positive(int),
                         help="use the front's formula of this size (default: the chosen one)")
    predict.add_argument("-o", "--output", metavar="OUT.csv", type=Path,
                         help="write here (default: stdout)")
    predict.set_defaults(run=cmd_predict)
    return parser


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


def _best(discovery: Discovery) -> Equation | None:
    return discovery.best if discovery.equations else None


def _print_result(discovery: Discovery, target: str | None, out: TextIO, *, forms: bool) -> None:
    print(discovery, file=out)
    best = _best(discovery)
    if best is None:
        return
    print(f"\nchosen: {target + ' = ' if target else ''}{best.formula}", file=out)
    if forms:
        try:
            print(f"sympy:  {best.sympy()}", file=out)
            print(f"LaTeX:  {best.latex()}", file=out)
        except ImportError as exc:
            print(f"(sympy and LaTeX forms need sympy: {exc})", file=out)


def search_options(args: argparse.Namespace) -> dict[str, Any]:
    """The keyword arguments of :func:`vok_math.discover` that the command line set."""
    options: dict[str, Any] = {
        "max_size": args.max_size, "time_limit": args.time_limit,
        "max_evaluations": args.max_evaluations, "operators": args.operators,
        "constants": args.constants, "n_threads": args.threads,
        "scaling": False if args.no_scaling else None,
        "progress": not args.no_progress and sys.stderr.isatty(),
    }
    return {key: value for key, value in options.items() if value is not None}


def run_discover(X: npt.NDArray[np.float64], y: npt.NDArray[np.float64], names: list[str],
                 target: str, options: dict[str, Any], out: TextIO, *,
                 json: Path | None = None, plot: Path | None = None) -> int:
    """Runs the search, prints it, writes the requested files; returns the exit status."""
    from vok_math.discovery import SearchInterruptedWarning, discover

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
    _print_result(discovery, target, out, forms=True)
    if _best(discovery) is None:
        print("No formula could be evaluated on these data.", file=out)
        return EXIT_NOTHING
    try:
        if json is not None:
            discovery.save(json)
            print(f"saved:  {json}", file=out)
        if plot is not None:
            from vok_math import plots
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
    _check_output(args.json, (".json",), "--json")
    _check_output(args.plot, (".png", ".svg"), "--plot")
    if args.plot is not None:
        _need_matplotlib()
    table = read_table(args.data)
    if not table.has_header:
        print(f"vok-math: note: {table.source} has no header line; the columns are called "
              f"{', '.join(table.names)}", file=sys.stderr)
    X, y, columns, target = split_columns(table, args.target, args.features)
    names = formula_names(columns)
    renamed = [f"{column!r} is {name}" for column, name in zip(columns, names) if column != name]
    if renamed:
        print(f"vok-math: note: in formulas, {', '.join(renamed)}", file=sys.stderr)
    return run_discover(X, y, names, target, search_options(args), out, json=args.json,
                        plot=args.plot)


def _load(path: str) -> Discovery:
    from vok_math.discovery import load

    try:
        return load(path)
    except FileNotFoundError:
        raise InputError(f"{path}: no such file") from None
    except (OSError, ValueError, KeyError, TypeError) as exc:
        message = str(exc)
        raise InputError(message if message.startswith(path) else f"{path}: {message}") from None


def cmd_show(args: argparse.Namespace, out: TextIO) -> int:
    discovery = _load(args.run_file)
    _print_result(discovery, None, out, forms=True)
    return EXIT_FOUND if _best(discovery) is not None else EXIT_NOTHING


def _equation(discovery: Discovery, size: int | None, source: str) -> Equation:
    if size is None:
        best = _best(discovery)
        if best is None:
            raise InputError(f"{source}: the run has no formula")
        return best
    for equation in discovery.equations:
        if equation.size == size:
            return equation
    sizes = ", ".join(str(e.size) for e in discovery.equations)
    raise InputError(f"{source}: no formula of size {size}; the sizes are {sizes}")


def cmd_predict(args: argparse.Namespace, out: TextIO) -> int:
    discovery = _load(args.run_file)
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
        _write_csv(out, table.names + ["predicted"], rows)
        return EXIT_FOUND
    try:
        with open(args.output, "w", newline="", encoding="utf-8") as f:
            _write_csv(f, table.names + ["predicted"], rows)
    except OSError as exc:
        raise InputError(f"{args.output}: cannot write: {exc.strerror}") from None
    return EXIT_FOUND


def _write_csv(stream: TextIO, header: list[str], rows: npt.NDArray[np.float64]) -> None:
    writer = csv.writer(stream, lineterminator="\n")
    writer.writerow(header)
    # repr gives the shortest text that reads back as the same double.
    writer.writerows(map(lambda row: map(repr, row), rows.tolist()))


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


def main(argv: Sequence[str] | None = None) -> int:
    """Runs ``vok-math`` with `argv` (default: the process's arguments); returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    out = sys.stdout
    try:
        if args.command is None:
            return run_demo(out)
        status: int = args.run(args, out)
        return status
    except InputError as exc:
        print(exc, file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        print("vok-math: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader went away (| head): say nothing more, keep Python quiet at exit, and end
        # the way a program killed by SIGPIPE does.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 128 + 13
