"""VOKRegressor: discover() as a scikit-learn regressor (needs the sklearn extra)."""

from __future__ import annotations

import contextlib
from collections.abc import Iterator, Sequence
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

try:
    from sklearn.base import BaseEstimator, RegressorMixin
    from sklearn.metrics import r2_score
    from sklearn.utils.validation import check_is_fitted, validate_data
except ImportError:
    raise ImportError("VOKRegressor needs scikit-learn 1.6 or newer: "
                      "pip install 'vok_math[sklearn]'") from None

from vok_math.data import check_names
from vok_math.discovery import Discovery, discover
from vok_math.equation import Equation
from vok_math.model_choice import ModelSelection
from vok_math.progress import ProgressArg
from vok_math.settings import DEFAULT_MODEL_SELECTION

__all__ = ["VOKRegressor"]


@contextlib.contextmanager
def _named_overflow(**arguments: Any) -> Iterator[None]:
    """scikit-learn's bare OverflowError for an integer beyond the doubles, as a ValueError
    naming the argument that holds it."""
    try:
        yield
    except OverflowError:
        for name, value in arguments.items():
            try:
                np.asarray(value, dtype=np.float64)
            except OverflowError:
                raise ValueError(f"{name} holds an integer too large for a double (beyond "
                                 "±1.8e308)") from None
            except (TypeError, ValueError):
                pass
        raise


class VOKRegressor(RegressorMixin, BaseEstimator):  # type: ignore[misc]
    """Formula discovery with the scikit-learn estimator API.

    The parameters are those of :func:`vok_math.discover` (``progress`` is off by default);
    ``predict`` uses the best equation.

    Attributes
    ----------
    discovery_ : Discovery
        The whole result of the search.
    equations_ : tuple of Equation
        The Pareto front.
    best_ : Equation
        The equation that ``predict`` uses.
    n_features_in_ : int
    feature_names_in_ : ndarray of str
        Only when X was a DataFrame with string column names. The equations use these names
        when they are Python identifiers, else ``x0, x1, ...``.

    Examples
    --------
    >>> import numpy as np
    >>> X = np.linspace(1, 4, 20).reshape(-1, 1)
    >>> model = VOKRegressor(max_size=4).fit(X, 3 * X[:, 0] ** 2)
    >>> model.best_.formula
    '3 * x0**2'
    >>> float(model.score(X, 3 * X[:, 0] ** 2))
    1.0
    """

    def __init__(self, *, max_size: int | None = None, time_limit: float | None = None,
                 max_evaluations: int | None = None, operators: Sequence[str] | None = None,
                 constants: Sequence[float] | None = None, scaling: bool = True,
                 n_threads: int | None = None, memory_limit: int | None = None,
                 progress: ProgressArg = False,
                 model_selection: ModelSelection = DEFAULT_MODEL_SELECTION,
                 terms: int | None = None) -> None:
        self.max_size = max_size
        self.time_limit = time_limit
        self.max_evaluations = max_evaluations
        self.operators = operators
        self.constants = constants
        self.scaling = scaling
        self.n_threads = n_threads
        self.memory_limit = memory_limit
        self.progress = progress
        self.model_selection = model_selection
        self.terms = terms

    discovery_: Discovery
    equations_: tuple[Equation, ...]
    best_: Equation

    if TYPE_CHECKING:
        # Added by scikit-learn's metadata routing, for score()'s sample_weight.
        def set_score_request(self, *, sample_weight: bool | str | None = ...) -> VOKRegressor: ...

    def fit(self, X: Any, y: Any, sample_weight: Any = None) -> VOKRegressor:
        """Runs the search on X, y (rows weighted by ``sample_weight``, as in
        :func:`vok_math.discover`) and keeps the front; returns self.

        A fit that raises (bad data, bad settings, no equation found) leaves the estimator as it
        was before the call: a fitted one keeps its model, an unfitted one stays unfitted.
        """
        before = dict(self.__dict__)
        try:
            return self._fit(X, y, sample_weight)
        except BaseException:
            # validate_data sets n_features_in_ and feature_names_in_ before the search runs.
            self.__dict__.clear()
            self.__dict__.update(before)
            raise

    def _fit(self, X: Any, y: Any, sample_weight: Any) -> VOKRegressor:
        with _named_overflow(X=X, y=y):
            X, y = validate_data(self, X, y, y_numeric=True, dtype=np.float64,
                                 ensure_min_samples=2)
        names = [f"x{i}" for i in range(X.shape[1])]
        given = getattr(self, "feature_names_in_", None)
        if given is not None:
            # Column names that cannot be variable names: keep x0, x1, ...
            with contextlib.suppress(ValueError):
                names = list(check_names([str(n) for n in given], X.shape[1]))
        discovery = discover(
            X, y, names=names, max_size=self.max_size, time_limit=self.time_limit,
            max_evaluations=self.max_evaluations, operators=self.operators,
            constants=self.constants, scaling=self.scaling, n_threads=self.n_threads,
            memory_limit=self.memory_limit, progress=self.progress, sample_weight=sample_weight,
            model_selection=self.model_selection, terms=self.terms)
        best = discovery.best  # raises when nothing was found: then nothing is kept
        self.discovery_, self.equations_, self.best_ = discovery, discovery.equations, best
        return self

    def predict(self, X: Any) -> npt.NDArray[np.float64]:
        """Values of the best equation on X (NaN where it has no value)."""
        check_is_fitted(self, "best_")
        with _named_overflow(X=X):
            X = validate_data(self, X, reset=False, dtype=np.float64)
        return self.best_.predict(X)

    def score(self, X: Any, y: Any, sample_weight: Any = None) -> float:
        """R² of the best equation's predictions on X against y (weighted by ``sample_weight``).

        The best equation has no value where it leaves the reals (a log of a negative number,
        say); a row like that cannot be scored, and is a ValueError saying which rows, never
        a score of the other rows alone.
        """
        predicted = self.predict(X)
        bad = np.flatnonzero(~np.isfinite(predicted))
        if len(bad):
            rows = ", ".join(map(str, bad[:5].tolist())) + (f" and {len(bad) - 5} more"
                                                            if len(bad) > 5 else "")
            raise ValueError(f"cannot score: the best equation, {self.best_.formula}, has no value "
                             f"on {len(bad)} of {len(predicted)} rows of X (row"
                             f"{'s' if len(bad) > 1 else ''} {rows})")
        return float(r2_score(y, predicted, sample_weight=sample_weight))
