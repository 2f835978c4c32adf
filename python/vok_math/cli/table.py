"""Reading the user's CSV files: a table of numbers, and its columns as a search's variables.

Every problem is an :class:`InputError` that points at its file, line and column.
"""

from __future__ import annotations

import csv
import dataclasses
import io
import itertools
import keyword
import sys
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import TextIO

import numpy as np
import numpy.typing as npt

from vok_math.cli.status import InputError
from vok_math.data import default_names
from vok_math.state import shown

__all__ = ["DELIMITERS", "SNIFF_LINES", "Cells", "InputError", "Table", "formula_names",
           "parse_cells", "parse_table", "read_cells", "read_table", "split_columns"]

DELIMITERS = ",;\t"
# Lines the delimiter sniffer looks at: enough to see a pattern, few enough to stay fast.
SNIFF_LINES = 20


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


def _rows(text: str, source: str, delimiter: str) -> tuple[list[list[str]], list[int]]:
    """The rows that hold anything, and the line each starts on."""
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
    return rows, numbers


def _names(first: list[str], header_line: int, source: str, search: bool
           ) -> tuple[list[str], bool]:
    """The columns' names, from the first row when it is a header; and whether it is."""
    has_header = not all(_is_number(cell) for cell in first)
    if has_header:
        for i, name in enumerate(first):
            if not name:
                raise InputError(f"{source}:{header_line}: column {i + 1} has no name")
            if name in first[:i]:
                raise InputError(f"{source}:{header_line}: column name {shown(name)} appears twice")
        return first, True
    # discover()'s own default names for the features, then the target.
    return [*default_names(len(first) - search), *(["y"] if search else [])], False


@dataclasses.dataclass(frozen=True)
class Cells:
    """A CSV file's cells as text, each row as wide as the header, before any is read as a
    number: a command that uses some columns reads only those as numbers.

    Attributes
    ----------
    source, names, lines, has_header
        As in :class:`Table`.
    text : ndarray of str, shape (n_rows, n_columns)
        Every cell as written (stripped of the spaces that follow a delimiter).
    delimiter : str
    """

    source: str
    names: list[str]
    text: npt.NDArray[np.str_]
    lines: npt.NDArray[np.int64]
    has_header: bool
    delimiter: str

    def numbers(self, columns: Sequence[int] | None = None) -> npt.NDArray[np.float64]:
        """The cells of ``columns`` (default: all) as numbers, shape (n_rows, len(columns));
        :class:`InputError` at the first cell that is not a finite number."""
        index = list(range(len(self.names))) if columns is None else list(columns)
        cells = self.text[:, index]
        try:
            values = cells.astype(np.float64)
            bad = ~np.isfinite(values)
        except ValueError:
            # Only on the error path: find the first cell numpy could not read.
            bad = ~np.vectorize(_is_number, otypes=[bool])(cells)
            values = np.zeros(cells.shape)
        if bad.any():
            i, j = (int(k) for k in np.argwhere(bad)[0])
            raise InputError(f"{self.source}:{self.lines[i]}: column {self.names[index[j]]}: "
                             f"{_cell_problem(cells[i, j], self.delimiter)}")
        return values

    def table(self) -> Table:
        """Every column read as numbers."""
        return Table(self.source, self.names, self.numbers(), self.lines, self.has_header)


def _check_widths(rows: list[list[str]], numbers: list[int], width: int, has_header: bool,
                  source: str) -> None:
    """Every row as wide as the header (or the first row): a short row is never padded."""
    lengths = np.array([len(row) for row in rows])
    wrong = np.flatnonzero(lengths != width)
    if wrong.size:
        i = int(wrong[0])
        raise InputError(f"{source}:{numbers[i]}: {lengths[i]} cells, but "
                         f"{'the header names' if has_header else 'the first row has'} "
                         f"{width} columns")


def parse_cells(text: str, source: str, search: bool = True) -> Cells:
    """Reads CSV text into :class:`Cells` (see :func:`parse_table`), no cell yet read as a
    number; problems with the file's shape raise :class:`InputError`."""
    text = text.removeprefix("\ufeff")
    delimiter = _sniff_delimiter(text)
    rows, numbers = _rows(text, source, delimiter)
    names, has_header = _names([cell.strip() for cell in rows[0]], numbers[0], source, search)
    if has_header:
        rows, numbers = rows[1:], numbers[1:]
    if len(names) < 1 + search:
        raise InputError(f"{source}: one column ({names[0]}): need at least one feature column "
                         f"and a target column, separated by ',', ';' or tabs")
    if not rows:
        raise InputError(f"{source}: no data rows after the header")
    _check_widths(rows, numbers, len(names), has_header, source)
    return Cells(source, names, np.array(rows, dtype=str), np.array(numbers, dtype=np.int64),
                 has_header, delimiter)


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
    return parse_cells(text, source, search).table()


def _read_text(path: str, stdin: TextIO | None) -> tuple[str, str]:
    """The text of a CSV file (``-`` for stdin) and its name for messages."""
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
        return data.decode("utf-8-sig"), source
    except UnicodeDecodeError as exc:
        line = data[: exc.start].count(b"\n") + 1
        raise InputError(f"{source}:{line}: not UTF-8 text (byte 0x{data[exc.start]:02x}); "
                         f"save the file as UTF-8") from None


def read_cells(path: str, search: bool = True, stdin: TextIO | None = None) -> Cells:
    """Reads a CSV file (``-`` for stdin) into :class:`Cells`; problems raise :class:`InputError`."""
    return parse_cells(*_read_text(path, stdin), search)


def read_table(path: str, search: bool = True, stdin: TextIO | None = None) -> Table:
    """Reads a CSV file (``-`` for stdin) into a :class:`Table`; problems raise :class:`InputError`."""
    return read_cells(path, search, stdin).table()


def split_columns(table: Table, target: str | None = None,
                  features: Sequence[str] | None = None, weights: str | None = None
                  ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], list[str], str]:
    """The feature matrix, the target and their names: by default the last column is the target.
    A ``weights`` column (the rows' weights, read with :func:`weight_column`) is neither.

    Examples
    --------
    >>> t = parse_table("a,b,c\\n1,2,3\\n4,5,6\\n", "t.csv")
    >>> X, y, names, target = split_columns(t, target="a")
    >>> X.tolist(), y.tolist(), names, target
    ([[2.0, 3.0], [5.0, 6.0]], [1.0, 4.0], ['b', 'c'], 'a')
    """
    def check(name: str, what: str) -> str:
        if name not in table.names:
            raise InputError(f"{table.source}: no column {shown(name)} for the {what}; "
                             f"the columns are {', '.join(table.names)}")
        return name

    target = check(target, "target") if target is not None else table.names[-1]
    if weights is not None and check(weights, "weights") == target:
        raise InputError(f"{table.source}: column {shown(target)} is the target; "
                         f"it cannot also be the weights")
    if features is None:
        features = [name for name in table.names if name not in (target, weights)]
    else:
        features = [check(name, "features") for name in features]
        if weights in features:
            raise InputError(f"{table.source}: column {shown(weights)} holds the weights; "
                             f"it cannot also be a feature")
        if target in features:
            raise InputError(f"{table.source}: column {shown(target)} is the target; "
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
