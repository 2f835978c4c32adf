"""Reading X and y: what is accepted, and the message for each kind of bad input."""
import warnings

import numpy as np
import pandas as pd
import pytest

from vok_math.data import prepare_data

Y3 = [1.0, 2.0, 3.0]


@pytest.mark.parametrize("X, names, want_columns, want_names", [
    (np.array([1, 2, 3], dtype=np.int64), None, [[1, 2, 3]], ("x",)),
    (np.array([[1], [2], [3]], dtype=np.float32), None, [[1, 2, 3]], ("x",)),   # one variable
    ([[1, 4], [2, 5], [3, 6]], None, [[1, 2, 3], [4, 5, 6]], ("x0", "x1")),
    (pd.DataFrame({"m": [1, 2, 3], "v": [4.0, 5.0, 6.0]}), None, [[1, 2, 3], [4, 5, 6]], ("m", "v")),
    (pd.DataFrame({"m": [1, 2, 3]}), ["mass"], [[1, 2, 3]], ("mass",)),
    (pd.Series([1, 2, 3], name="t"), None, [[1, 2, 3]], ("t",)),
    (np.array([[True, 2], [False, 3], [True, 4]], dtype=object), None, [[1, 0, 1], [2, 3, 4]],
     ("x0", "x1")),
])
def test_accepted_forms(X, names, want_columns, want_names):
    columns, y, got_names = prepare_data(X, pd.Series(Y3), names=names)
    assert columns.dtype == np.float64 and columns.flags.c_contiguous
    assert columns.tolist() == want_columns and got_names == want_names
    assert y.dtype == np.float64 and y.tolist() == Y3


@pytest.mark.parametrize("X, y, names, exc, text", [
    ([[1.0], [2.0]], Y3, None, ValueError, "X has 2 rows but y has 3 values"),
    ([1.0], [1.0], None, ValueError, "need at least 2 rows of samples, got 1"),
    (np.zeros((3, 0)), Y3, None, ValueError, "X has no features (0 columns)"),
    (np.zeros((3, 2, 2)), Y3, None, ValueError, "X must be 2-D (n_samples, n_features), got shape (3, 2, 2)"),
    ([[1.0, 2.0], [3.0]], [1.0, 2.0], None, ValueError, "X rows have different lengths"),
    ("abc", Y3, None, TypeError, "X must be a 2-D array, a DataFrame or a list of rows, not str"),
    (pd.DataFrame({"m": [1, 2, 3], "who": ["a", "b", "c"], "when": pd.to_datetime(["2020"] * 3)}),
     Y3, None, TypeError, "X has non-numeric columns: 'who' ("),   # dtype names vary with pandas
    ([[1, "a"], [2, "b"], [3, "c"]], Y3, None, TypeError, "X has non-numeric columns 0, 1 (dtype <U21)"),
    ([1, 2, 3], ["a", "b", "c"], None, TypeError, "y is not numeric (dtype <U1)"),
    ([1, 2, 3], np.ones((3, 2)), None, ValueError, "y must be 1-D (n_samples,), got shape (3, 2)"),
    ([[1, 2]] * 3, Y3, ["a", "a"], ValueError, "variable names clash: 'a' is given 2 times"),
    ([[1, 2]] * 3, Y3, ["a"], ValueError, "names has 1 entries but X has 2 features"),
    ([1, 2, 3], Y3, ["mass (kg)"], ValueError, "variable name 'mass (kg)' is not a Python identifier"),
    ([1, 2, 3], Y3, ["lambda"], ValueError, "variable name 'lambda' is not a Python identifier"),
    ([1, 2, 3], Y3, ["m" * 5000 + " "], ValueError,
     "variable name 'mmmmmmmmmmmmmmmmm...mmmmmmmmmmmmmmmmm ' is not a Python identifier"),
    (pd.DataFrame({"mass kg": [1, 2, 3]}), Y3, None, ValueError, "variable name 'mass kg'"),
    ([[1, np.nan], [2, 3], [np.inf, np.nan]], Y3, ["a", "b"], ValueError,
     "X has NaN or infinite values in columns 'a' (row 2), 'b' (rows 0, 2); "
     "pass drop_nonfinite=True to drop such rows"),
    (np.arange(20.0), np.full(20, np.nan), None, ValueError,
     "y has NaN or infinite values in rows 0, 1, 2, 3, 4 and 15 more; pass drop_nonfinite=True"),
])
def test_bad_input_is_named(X, y, names, exc, text):
    with pytest.raises(exc) as info:
        prepare_data(X, y, names=names)
    assert type(info.value) is exc and str(info.value).startswith(text)


def test_dropping_nonfinite_rows_is_opt_in_and_counted():
    X = [[1.0, 2.0], [np.nan, 1.0], [3.0, 4.0], [5.0, 6.0]]
    y = [1.0, 2.0, np.inf, 4.0]
    with pytest.warns(UserWarning, match=r"^dropped 2 of 4 rows with NaN or infinite values \(rows 1, 2\)$"):
        columns, target, _ = prepare_data(X, y, drop_nonfinite=True)
    assert columns.tolist() == [[1.0, 5.0], [2.0, 6.0]] and target.tolist() == [1.0, 4.0]
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        prepare_data(X[:1] + X[2:], [1.0, 3.0, 4.0], drop_nonfinite=True)  # nothing to drop, no warning
