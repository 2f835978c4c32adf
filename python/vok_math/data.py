"""Reading and validating the samples of a discovery: X (array, DataFrame, list of rows) and y.

Every problem is reported with what it is and where (the rows and columns of a NaN, the name of a
non-numeric column), and nothing is dropped unless the caller asks for it.
"""

from __future__ import annotations

import keyword
import sys
import warnings
from collections.abc import Sequence
from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

from vok_math.state import shown

__all__ = ["PreparedData", "prepare_data", "prepare_features", "default_names", "check_names",
           "prepare_samples", "check_weights"]

# How many offending rows or cells a message lists before it says "and N more".
_SHOWN = 5


class PreparedData(NamedTuple):
    """Validated samples: ``columns`` is float64 of shape (n_features, n_samples)."""

    columns: npt.NDArray[np.float64]
    y: npt.NDArray[np.float64]
    names: tuple[str, ...]


def default_names(n_features: int) -> tuple[str, ...]:
    """``("x",)`` for one variable, else ``("x0", "x1", ...)``.

    >>> default_names(1), default_names(3)
    (('x',), ('x0', 'x1', 'x2'))
    """
    return ("x",) if n_features == 1 else tuple(f"x{i}" for i in range(n_features))


def check_names(names: Sequence[str], n_features: int) -> tuple[str, ...]:
    """Validates variable names: one per feature, each a Python identifier, no two the same.

    >>> check_names(["m", "v"], 2)
    ('m', 'v')
    >>> check_names(["m", "m"], 2)
    Traceback (most recent call last):
    ...
    ValueError: variable names clash: 'm' is given 2 times
    """
    if isinstance(names, str):
        raise TypeError("names must be a sequence of strings, not a single string")
    out = tuple(names)
    if len(out) != n_features:
        raise ValueError(f"names has {len(out)} entries but X has {n_features} "
                         f"feature{'s' if n_features != 1 else ''}")
    for name in out:
        if not isinstance(name, str):
            raise TypeError(f"variable names must be strings, got {shown(name)}")
        if not name.isidentifier() or keyword.iskeyword(name):
            raise ValueError(f"variable name {shown(name)} is not a Python identifier "
                             "(formulas and generated code use the names as written); "
                             "pass names=[...] to rename")
    for name in dict.fromkeys(out):
        count = out.count(name)
        if count > 1:
            raise ValueError(f"variable names clash: {shown(name)} is given {count} times")
    return out


def _listing(items: Sequence[object]) -> str:
    shown = ", ".join(str(i) for i in items[:_SHOWN])
    return shown if len(items) <= _SHOWN else f"{shown} and {len(items) - _SHOWN} more"


def _pandas_types() -> tuple[Any, Any] | None:
    # A DataFrame can only be passed once pandas is imported: never import it here.
    pd = sys.modules.get("pandas")
    return None if pd is None else (pd.DataFrame, pd.Series)


def _float64(arr: npt.NDArray[Any], what: str) -> npt.NDArray[np.float64]:
    """A float64 copy; masked cells (of a numpy masked array) become NaN. An integer beyond
    the doubles is a ValueError naming ``what``; anything else not a number, a TypeError."""
    try:
        out = np.array(arr, dtype=np.float64)
    except OverflowError:
        raise ValueError(f"{what} holds an integer too large for a double (beyond ±1.8e308)"
                         ) from None
    except ValueError as e:  # such as text that is not a number
        raise TypeError(str(e)) from None
    if isinstance(arr, np.ma.MaskedArray):
        out[np.ma.getmaskarray(arr)] = np.nan
    return out


def _asarray(values: Any) -> npt.NDArray[Any]:
    """``values`` as an array; a masked array stays one, so its mask is not lost."""
    return values if isinstance(values, np.ma.MaskedArray) else np.asarray(values)


def _numeric(values: Any, what: str) -> npt.NDArray[np.float64]:
    """float64 copy of one column or of y; TypeError naming ``what`` when it is not numeric."""
    arr = _asarray(values)
    if arr.dtype.kind in "biufO":
        try:
            return _float64(arr, what)
        except TypeError:
            pass
    raise TypeError(f"{what} is not numeric (dtype {arr.dtype})")


def _frame_columns(frame: Any) -> tuple[list[npt.NDArray[np.float64]], tuple[Any, ...]]:
    labels = tuple(frame.columns)
    columns, bad = [], []
    for i, label in enumerate(labels):
        try:
            columns.append(_numeric(frame.iloc[:, i].to_numpy(), f"X column {label!r}"))
        except TypeError:
            bad.append(f"{label!r} ({frame.iloc[:, i].dtype})")
    if bad:
        raise TypeError(f"X has non-numeric column{'s' if len(bad) > 1 else ''}: {', '.join(bad)}")
    return columns, labels


def _array_features(X: Any) -> npt.NDArray[np.float64]:
    """(n_samples, n_features) float64 from an array or a list of rows (1-D: one variable)."""
    if isinstance(X, (str, bytes, dict)) or X is None:
        raise TypeError(f"X must be a 2-D array, a DataFrame or a list of rows, not {type(X).__name__}")
    try:
        arr = _asarray(X)
    except ValueError as e:  # ragged nested lists
        raise ValueError(f"X rows have different lengths ({e})") from None
    if arr.dtype.kind == "O" and arr.ndim == 1 and len(arr) and isinstance(arr[0], (list, tuple)):
        raise ValueError("X rows have different lengths")
    if arr.ndim == 1:
        arr = arr.reshape(-1, 1)
    if arr.ndim != 2:
        raise ValueError(f"X must be 2-D (n_samples, n_features), got shape {arr.shape}")
    if arr.dtype.kind in "biuf":
        return _float64(arr, "X")
    bad = []
    for j in range(arr.shape[1]):
        try:
            _numeric(arr[:, j], f"X column {j}")
        except TypeError:
            bad.append(str(j))
    if bad:
        raise TypeError(f"X has non-numeric column{'s' if len(bad) > 1 else ''} {', '.join(bad)} "
                        f"(dtype {arr.dtype})")
    return _float64(arr, "X")


def prepare_features(X: Any, names: Sequence[str] | None = None
                     ) -> tuple[npt.NDArray[np.float64], tuple[str, ...]]:
    """X as float64 (n_samples, n_features) and the variable names (validated).

    Names come from ``names``, else a DataFrame's columns (or a Series' name), else
    :func:`default_names`.

    >>> rows, names = prepare_features([[1, 2], [3, 4]], names=["a", "b"])
    >>> rows.dtype, rows.shape, names
    (dtype('float64'), (2, 2), ('a', 'b'))
    """
    pandas = _pandas_types()
    found: tuple[Any, ...] | None = None
    if pandas is not None and isinstance(X, pandas[0]):
        cols, found = _frame_columns(X)
        rows = np.stack(cols, axis=1) if cols else np.empty((len(X), 0))
    elif pandas is not None and isinstance(X, pandas[1]):
        rows = _numeric(X.to_numpy(), f"X ({X.name!r})").reshape(-1, 1)
        found = (X.name,) if X.name is not None else None
    else:
        rows = _array_features(X)
    if rows.shape[1] == 0:
        raise ValueError("X has no features (0 columns)")
    if names is None and found is not None and all(isinstance(n, str) for n in found):
        names = [str(n) for n in found]
    return rows, (check_names(names, rows.shape[1]) if names is not None
                  else default_names(rows.shape[1]))


def _target(y: Any) -> npt.NDArray[np.float64]:
    pandas = _pandas_types()
    if pandas is not None and isinstance(y, pandas[0]):
        if y.shape[1] != 1:
            raise ValueError(f"y must be one column, got a DataFrame with {y.shape[1]} columns")
        y = y.iloc[:, 0]
    if isinstance(y, (str, bytes)) or y is None:
        raise TypeError(f"y must be a 1-D array of numbers, not {type(y).__name__}")
    arr = _asarray(y.to_numpy() if pandas is not None and isinstance(y, pandas[1]) else y)
    if arr.ndim == 2 and arr.shape[1] == 1:
        arr = arr[:, 0]
    if arr.ndim != 1:
        raise ValueError(f"y must be 1-D (n_samples,), got shape {arr.shape}")
    return _numeric(arr, "y")


def _nonfinite_message(rows: npt.NDArray[np.float64], y: npt.NDArray[np.float64],
                       names: tuple[str, ...]) -> str:
    bad_x = ~np.isfinite(rows)
    parts = []
    if bad_x.any():
        cols = np.flatnonzero(bad_x.any(axis=0))
        where = [f"{names[j]!r} (row{'s' if len(r) > 1 else ''} {_listing(r.tolist())})"
                 for j in cols for r in [np.flatnonzero(bad_x[:, j])]]
        parts.append("X has NaN or infinite values in column" + ("s " if len(cols) > 1 else " ")
                     + _listing(where))
    bad_y = np.flatnonzero(~np.isfinite(y))
    if len(bad_y):
        parts.append(f"y has NaN or infinite values in row{'s' if len(bad_y) > 1 else ''} "
                     f"{_listing(bad_y.tolist())}")
    return "; ".join(parts)


def prepare_data(X: Any, y: Any, names: Sequence[str] | None = None,
                 drop_nonfinite: bool = False) -> PreparedData:
    """Validates samples for a discovery and returns them column-wise in float64.

    Parameters
    ----------
    X : array-like of shape (n_samples, n_features), pandas DataFrame, or list of rows
        A 1-D array is one variable. DataFrame column names become the variable names.
        Integers, booleans and float32 are converted to float64.
    y : array-like of shape (n_samples,)
        The target (a (n, 1) column or a one-column DataFrame is accepted).
    names : sequence of str, optional
        Variable names, one per feature; each must be a Python identifier, all distinct.
    drop_nonfinite : bool, default False
        Drop the rows where X or y holds NaN or an infinity (with a warning that says how
        many), instead of raising.

    Returns
    -------
    PreparedData
        ``(columns, y, names)``: ``columns`` is a C-contiguous (n_features, n_samples) array.

    Raises
    ------
    TypeError
        X or y is not numeric (non-numeric columns are named) or not array-like.
    ValueError
        Shapes do not match, fewer than 2 rows, NaN or infinite values (rows and columns
        named), bad names.

    Examples
    --------
    >>> columns, y, names = prepare_data([[1.0, 2.0], [3.0, 4.0], [5.0, 6.0]], [1, 2, 3])
    >>> columns.shape, names
    ((2, 3), ('x0', 'x1'))
    >>> prepare_data([1.0, float("nan"), 3.0], [1.0, 2.0, 3.0])
    Traceback (most recent call last):
    ...
    ValueError: X has NaN or infinite values in column 'x' (row 1); pass drop_nonfinite=True to drop such rows
    """
    return prepare_samples(X, y, names, drop_nonfinite, stacklevel=3)[0]


def prepare_samples(X: Any, y: Any, names: Sequence[str] | None, drop_nonfinite: bool,
                    stacklevel: int, weights: Any = None
                    ) -> tuple[PreparedData, int, npt.NDArray[np.float64] | None]:
    """prepare_data, plus the number of rows dropped and the rows' weights (checked, and
    dropped with their rows; None when not given); the warning points ``stacklevel`` up."""
    rows, names_t = prepare_features(X, names)
    target = _target(y)
    if len(target) != len(rows):
        raise ValueError(f"X has {len(rows)} rows but y has {len(target)} values")
    w = None if weights is None else check_weights(weights, len(target))
    finite = np.isfinite(rows).all(axis=1) & np.isfinite(target)
    if not finite.all():
        message = _nonfinite_message(rows, target, names_t)
        if not drop_nonfinite:
            raise ValueError(f"{message}; pass drop_nonfinite=True to drop such rows")
        dropped = np.flatnonzero(~finite)
        warnings.warn(f"dropped {len(dropped)} of {len(rows)} rows with NaN or infinite values "
                      f"(row{'s' if len(dropped) > 1 else ''} {_listing(dropped.tolist())})",
                      UserWarning, stacklevel=stacklevel)
        rows, target = rows[finite], target[finite]
        if w is not None:
            w = w[finite]
            if not (w > 0).any():
                raise ValueError("sample_weight: every row left after dropping has weight zero")
    if len(target) < 2:
        raise ValueError(f"need at least 2 rows of samples, got {len(target)}")
    return (PreparedData(np.ascontiguousarray(rows.T), np.ascontiguousarray(target), names_t),
            int(np.count_nonzero(~finite)), w)


def check_weights(weights: Any, n_samples: int) -> npt.NDArray[np.float64]:
    """The rows' weights as float64, each finite and non-negative, not all zero.

    >>> check_weights([1, 2, 0], 3)
    array([1., 2., 0.])
    >>> check_weights([1.0, -1.0], 2)
    Traceback (most recent call last):
    ...
    ValueError: sample_weight must be finite and non-negative: row 1 is -1.0
    """
    try:
        w = _float64(_asarray(weights), "sample_weight")
    except TypeError:
        raise TypeError(f"sample_weight must be numbers, not {type(weights).__name__}") from None
    if w.ndim != 1 or len(w) != n_samples:
        raise ValueError(f"sample_weight has shape {w.shape}; {n_samples} weights are needed, "
                         "one per row")
    bad = np.flatnonzero(~(np.isfinite(w) & (w >= 0)))
    if len(bad):
        raise ValueError("sample_weight must be finite and non-negative: "
                         + ", ".join(f"row {i} is {float(w[i])!r}" for i in bad[:_SHOWN].tolist())
                         + (f" and {len(bad) - _SHOWN} more" if len(bad) > _SHOWN else ""))
    if not (w > 0).any():
        raise ValueError("sample_weight: every weight is zero; at least one row must count")
    return np.ascontiguousarray(w)
