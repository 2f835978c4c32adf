"""discover(): formula discovery on tabular data, and what it returns (Discovery, Equation).

The native engine enumerates every expression by size and keeps, per size, the best few
candidates with their least-squares scale and offset. This module turns those into equations
(constants that are 1, 0 or a simple number within rounding are written as such), the Pareto
front of error against size, the chosen best equation, and the saved file.
"""

from __future__ import annotations

import importlib
import math
import operator
import os
import sys
import warnings
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from fractions import Fraction
from html import escape
from typing import TYPE_CHECKING, Any, Union

import numpy as np
import numpy.typing as npt

from vok_math import _engine, export
from vok_math.data import _prepare, check_names, prepare_features
from vok_math.export import BINARY_OPS, UNARY_OPS, Token

if TYPE_CHECKING:
    import pandas as _pandas
    import sympy as _sympy

__all__ = ["discover", "Discovery", "Equation", "load", "SearchInterruptedWarning",
           "DEFAULT_MAX_SIZE", "DEFAULT_TIME_LIMIT", "DEFAULT_MAX_ROWS", "DEFAULT_OPERATORS",
           "DEFAULT_CONSTANTS"]

DEFAULT_MAX_SIZE = 10
DEFAULT_TIME_LIMIT = 60.0
DEFAULT_MAX_ROWS = 5000
DEFAULT_OPERATORS = ("neg", "inv", "exp", "ln", "sqrt", "sin", "cos", "add", "sub", "mul", "div")
DEFAULT_CONSTANTS = (1.0,)
# Candidates kept per size: the front is chosen after fitted constants are counted in the size,
# so a few runners-up per size can take the place of a winner whose constants cost it a size.
_FRONT_SIZE = 8
# An error at most this far above zero, relative to the size of y, is rounding: an exact fit.
_NOISE = 1e-12
# A constant is "within rounding" of a simpler number this close (relative).
_CLOSE = 1e-11
# Among equations whose error is within this factor of the lowest, .best takes the knee.
_KNEE_BAND = 1.5
_ALIASES = {"+": "add", "-": "sub", "*": "mul", "/": "div", "log": "ln"}
_STOPPED = ("complete", "time", "evaluations", "memory", "interrupted")

Columns = npt.NDArray[np.float64]
ProgressArg = Union[bool, None, Callable[[dict[str, Any]], object]]


class SearchInterruptedWarning(RuntimeWarning):
    """Ctrl-C stopped a discovery; the result holds the equations found until then."""


# --- equations ---

@dataclass(frozen=True, repr=False)
class Equation:
    """One discovered formula: ``scale * f(x) + offset`` with ``f`` the postfix ``program``.

    Examples
    --------
    >>> eq = Equation.from_parts([("var", 0), ("var", 0), ("op", "mul")], 0.5, 0.0, ["v"])
    >>> eq.formula, eq.size
    ('0.5 * v * v', 4)
    >>> eq.predict([1.0, 2.0, 3.0])
    array([0.5, 2. , 4.5])
    >>> eq(v=4.0)
    array(8.)
    """

    program: tuple[Token, ...]
    """Postfix tokens of f: ("const", float), ("var", index into names), ("op", name)."""
    scale: float
    offset: float
    names: tuple[str, ...]
    """The variable names, in the order of X's columns."""
    size: int
    """Tokens of the program, plus one for each fitted constant (scale not 1, offset not 0)."""
    sse: float
    """Sum of squared residuals on the training data, summed in row order."""
    rmse: float
    """Root mean squared error on the training data: sqrt(sse / n_samples)."""
    r2: float
    """Coefficient of determination on the training data (1 is a perfect fit)."""

    @classmethod
    def from_parts(cls, program: Sequence[Sequence[Any]], scale: float, offset: float,
                   names: Sequence[str], sse: float = math.nan, rmse: float = math.nan,
                   r2: float = math.nan) -> Equation:
        """An equation from its parts (the errors are NaN unless given)."""
        names_t = check_names(names, len(names))
        prog = export.check_program(program, len(names_t))
        size = len(prog) + (scale != 1.0) + (offset != 0.0)
        return cls(prog, float(scale), float(offset), names_t, size, float(sse), float(rmse),
                   float(r2))

    @property
    def formula(self) -> str:
        """Infix text with the variable names and the fewest parentheses that keep the meaning."""
        return export.formula_text(self.program, self.scale, self.offset, self.names)

    def sympy(self) -> _sympy.Expr:
        """The equation as a sympy expression (needs sympy).

        vok(a, b) is written exp(a) - log(b); constants that are simple fractions (such as 1/2
        or 2/3) become exact rationals.

        >>> Equation.from_parts([("var", 0), ("var", 0), ("op", "mul")], 0.5, 0.0, ["v"]).sympy()
        v**2/2
        """
        return export.to_sympy(self.program, self.scale, self.offset, self.names)

    def latex(self) -> str:
        r"""LaTeX of the sympy form (needs sympy).

        >>> Equation.from_parts([("var", 0), ("op", "sqrt")], 1.5, 0.0, ["h"]).latex()
        '\\frac{3 \\sqrt{h}}{2}'
        """
        return export.to_latex(self.program, self.scale, self.offset, self.names)

    def python(self, name: str = "f") -> str:
        """Source of a numpy function ``name(<every variable>)`` that computes the equation.

        The function takes arrays or numbers (broadcast together), returns NaN where the
        formula has no value, and keeps the search's order of operations.

        >>> src = Equation.from_parts([("var", 1), ("op", "exp")], 2.0, 0.0, ["a", "b"]).python()
        >>> print(src.splitlines()[-1].strip())
        return 2 * np.exp(b)
        """
        if not name.isidentifier():
            raise ValueError(f"function name {name!r} is not a Python identifier")
        return export.python_source(self.program, self.scale, self.offset, self.names, name)

    def _values(self, columns: Columns) -> npt.NDArray[np.float64]:
        f = np.asarray(_engine.evaluate(self.program, columns), dtype=np.float64)
        return (self.scale * f) + self.offset

    def predict(self, X: Any) -> npt.NDArray[np.float64]:
        """Values of the equation on the rows of X; NaN where it has no value.

        X is read as in :func:`discover` (a DataFrame's columns are picked by name). Rows with
        NaN or infinite values give NaN.
        """
        rows = self._rows(X)
        good = np.asarray(np.isfinite(rows).all(axis=1))
        if not good.all():
            rows = np.where(good[:, None], rows, 1.0)
        with np.errstate(all="ignore"):
            out = self._values(np.ascontiguousarray(rows.T))
        out[~good | ~np.isfinite(out)] = np.nan
        return out

    def _rows(self, X: Any) -> npt.NDArray[np.float64]:
        pd = sys.modules.get("pandas")
        if pd is not None and isinstance(X, pd.DataFrame) and set(self.names) <= set(X.columns):
            X = X[list(self.names)]
        rows, _ = prepare_features(X)
        if rows.shape[1] != len(self.names):
            raise ValueError(f"X has {rows.shape[1]} feature{'s' if rows.shape[1] != 1 else ''} "
                             f"but the equation has {len(self.names)} variable"
                             f"{'s' if len(self.names) != 1 else ''} ({', '.join(self.names)})")
        return rows

    def __call__(self, *args: Any, **kwargs: Any) -> npt.NDArray[np.float64]:
        """``eq(X)`` is ``eq.predict(X)``; ``eq(m, v)`` or ``eq(m=..., v=...)`` take one
        array (or number) per variable, broadcast together."""
        if len(args) == 1 and not kwargs:
            pd = sys.modules.get("pandas")
            table = np.ndim(args[0]) == 2 or (pd is not None and isinstance(args[0], pd.DataFrame))
            if table or len(self.names) > 1:
                return self.predict(args[0])
        if kwargs:
            unknown = set(kwargs) - set(self.names)
            if args or unknown or len(kwargs) != len(self.names):
                raise TypeError(f"give X, or one value per variable ({', '.join(self.names)})"
                                + (f"; unknown: {', '.join(sorted(unknown))}" if unknown else ""))
            args = tuple(kwargs[n] for n in self.names)
        if len(args) != len(self.names):
            raise TypeError(f"give X, or one value per variable ({', '.join(self.names)}), "
                            f"got {len(args)} arguments")
        columns = np.broadcast_arrays(*(np.asarray(a, dtype=np.float64) for a in args))
        shape = columns[0].shape
        return self.predict(np.stack([c.ravel() for c in columns], axis=1)).reshape(shape)

    def __repr__(self) -> str:
        return (f"Equation({self.formula!r}, size={self.size}, rmse={self.rmse:.6g}, "
                f"r2={self.r2:.6g})")

    def _state(self) -> dict[str, Any]:
        return {"program": [list(t) for t in self.program], "scale": self.scale,
                "offset": self.offset, "size": self.size, "sse": self.sse, "rmse": self.rmse,
                "r2": self.r2}


# --- fitting constants and choosing equations ---

def _sse(f: npt.NDArray[np.float64], y: npt.NDArray[np.float64], scale: float,
         offset: float) -> float:
    """Squared residuals summed in row order, as the engine sums them."""
    with np.errstate(all="ignore"):
        r = ((scale * f) + offset) - y
        return float(np.cumsum(r * r)[-1])


def _simpler_numbers(value: float, neutral: float) -> list[float]:
    """Simpler numbers to try in place of a fitted constant, simplest first."""
    out = [neutral]
    if math.isfinite(value) and value != 0:
        near = float(Fraction(value).limit_denominator(export._MAX_DENOMINATOR))
        decimals = [float(f"{value:.{d}g}") for d in range(1, 9)]
        out += [c for c in [near, *decimals] if abs(c - value) <= _CLOSE * abs(value)]
    return out


def _rounding(sse: float, n: int, floor: float) -> float:
    """How much an sse may move by rounding alone."""
    return sse * 1e-9 + n * floor * floor


def _settle_constants(f: npt.NDArray[np.float64], y: npt.NDArray[np.float64], scale: float,
                      offset: float, floor: float, neutral_scale: bool = True
                      ) -> tuple[float, float, float]:
    """Scale and offset with each replaced by the simplest number that leaves the error where
    it was up to rounding; also the resulting sse."""
    sse = _sse(f, y, scale, offset)
    allowed = sse + _rounding(sse, len(y), floor)
    for which, neutral in (("scale", 1.0), ("offset", 0.0)):
        current = scale if which == "scale" else offset
        simpler = _simpler_numbers(current, neutral)
        for candidate in (simpler if neutral_scale or which == "offset" else simpler[1:]):
            if candidate == current:
                break
            s, o = (candidate, offset) if which == "scale" else (scale, candidate)
            trial = _sse(f, y, s, o)
            if trial <= allowed:
                scale, offset = s, o
                break
    return scale, offset, _sse(f, y, scale, offset)


def _equations(columns: Columns, y: npt.NDArray[np.float64], names: tuple[str, ...],
               candidates: Sequence[Mapping[str, Any]], floor: float) -> list[Equation]:
    """The Pareto front by size (fitted constants counted) from the engine's candidates."""
    n = len(y)
    sst = float(np.cumsum((y - y.mean()) ** 2)[-1])
    made = []
    for c in candidates:
        program = export.check_program(c["program"], len(names))
        f = np.asarray(_engine.evaluate(program, columns), dtype=np.float64)
        scale, offset = float(c["scale"]), float(c["offset"])
        if not any(kind == "var" for kind, _ in program):
            # A constant: one fitted number, written as one constant leaf (size 1).
            value, _, sse = _settle_constants(np.ones(n), y, float((scale * f[0]) + offset), 0.0,
                                              floor, neutral_scale=False)
            program, scale, offset = (("const", value),), 1.0, 0.0
        else:
            scale, offset, sse = _settle_constants(f, y, scale, offset, floor)
        if not math.isfinite(sse):
            continue
        size = len(program) + (scale != 1.0) + (offset != 0.0)
        r2 = 1.0 - sse / sst if sst > 0 else (1.0 if sse == 0 else 0.0)
        made.append((size, sse, len(program), int(c["order"]),
                     Equation(program, scale, offset, names, size, sse, math.sqrt(sse / n), r2)))
    made.sort(key=lambda t: t[:4])
    front: list[Equation] = []
    for size, sse, _, _, eq in made:
        # More accurate beyond rounding, else a larger equation with the same fit would join.
        if not front or (size > front[-1].size and front[-1].rmse > floor
                         and sse < front[-1].sse - _rounding(front[-1].sse, n, floor)):
            front.append(eq)
    return front


def _choose_best(front: Sequence[Equation], floor: float, baseline: float) -> int | None:
    """Index of the best equation: the smallest exact one, else the knee of error against size.

    The knee is the equation whose error drops most, in log terms per unit of size, from the
    next smaller one (the first from ``baseline``, the error of the mean), among those whose
    error is within a factor 1.5 of the lowest.
    """
    if not front:
        return None
    for i, eq in enumerate(front):
        if eq.rmse <= floor:
            return i
    lowest = front[-1].rmse
    best, best_score = len(front) - 1, -math.inf
    previous_rmse, previous_size = baseline, 0
    for i, eq in enumerate(front):
        if eq.rmse <= _KNEE_BAND * lowest:
            score = (math.log(previous_rmse / eq.rmse) / (eq.size - previous_size)
                     if previous_rmse > 0 and eq.rmse > 0 else -math.inf)
            if score > best_score:
                best, best_score = i, score
        previous_rmse, previous_size = eq.rmse, eq.size
    return best


# --- the result ---

def _r2_text(r2: float) -> str:
    return f"{round(r2, 6) + 0.0:.6f}"     # + 0.0: no "-0.000000" for a rounding-level r2


class Discovery:
    """What :func:`discover` found: the Pareto front of equations and how the search went.

    Attributes
    ----------
    equations : tuple of Equation
        The Pareto front by size: each equation is strictly more accurate than every smaller
        one (sizes count fitted constants). It ends at the first exact equation.
    names : tuple of str
        The variable names.
    stopped : str
        Why the search ended: "complete" (every size up to max_size, or up to the first exact
        fit), "time", "evaluations", "memory" (a budget ran out) or "interrupted" (Ctrl-C).
    settings : dict
        The search settings, as given to the engine.
    sizes : tuple of dict
        Per size: candidates generated, distinct and valid ones, seconds, whether complete.
    evaluations : int
        Candidates scored.
    elapsed : float
        Seconds the search took.
    n_samples, dropped_rows : int
        Rows searched, and rows dropped for non-finite values (``drop_nonfinite=True``).
    """

    __slots__ = ("equations", "names", "stopped", "settings", "sizes", "evaluations", "elapsed",
                 "n_samples", "dropped_rows", "noise_floor", "_best", "_candidates")

    equations: tuple[Equation, ...]
    names: tuple[str, ...]
    stopped: str
    settings: dict[str, Any]
    sizes: tuple[dict[str, Any], ...]
    evaluations: int
    elapsed: float
    n_samples: int
    dropped_rows: int
    noise_floor: float
    _best: int | None
    _candidates: tuple[dict[str, Any], ...]

    @property
    def best(self) -> Equation:
        """The chosen equation.

        The smallest exact equation (error at the noise floor, 1e-12 of the size of y) when
        there is one; otherwise the knee of error against size: among the equations whose
        error is within a factor 1.5 of the lowest, the one whose error falls most (in log
        terms, per unit of size) from the next smaller equation.
        """
        if self._best is None:
            raise ValueError(f"no equation was found (the search stopped: {self.stopped})")
        return self.equations[self._best]

    def table(self) -> _pandas.DataFrame | list[dict[str, Any]]:
        """The front as a table: size, rmse, r2, formula and which one is best.

        A pandas DataFrame when pandas is installed, else a list of dicts.
        """
        rows = [{"size": e.size, "rmse": e.rmse, "r2": e.r2, "formula": e.formula,
                 "best": i == self._best} for i, e in enumerate(self.equations)]
        try:
            import pandas as pd
        except ImportError:
            return rows
        return pd.DataFrame(rows, columns=["size", "rmse", "r2", "formula", "best"])

    def _summary(self) -> str:
        return (f"{len(self.equations)} equation{'s' if len(self.equations) != 1 else ''} over "
                f"({', '.join(self.names)}) from {self.n_samples} samples; stopped: {self.stopped} "
                f"after {self.evaluations:,} candidates in {self.elapsed:.3g} s")

    def __repr__(self) -> str:
        lines = [f"Discovery: {self._summary()}", " size       rmse         r2  formula"]
        for i, e in enumerate(self.equations):
            mark = "*" if i == self._best else " "
            lines.append(f"{mark}{e.size:4d}  {e.rmse:9.3e}  {_r2_text(e.r2):>9}  {e.formula}")
        return "\n".join(lines)

    def _repr_html_(self) -> str:
        head = "".join(f"<th>{h}</th>" for h in ("", "size", "rmse", "r2", "formula"))
        body = "".join(
            f"<tr><td>{'best' if i == self._best else ''}</td><td>{e.size}</td>"
            f"<td>{e.rmse:.3e}</td><td>{_r2_text(e.r2)}</td><td><code>{escape(e.formula)}</code></td></tr>"
            for i, e in enumerate(self.equations))
        return (f"<p>Discovery: {escape(self._summary())}</p>"
                f"<table><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>")

    def plot(self, path: str | os.PathLike[str] | None = None, **kw: Any) -> Any:
        """Plots the front (needs matplotlib); see :func:`vok_math.plots.plot_discovery`."""
        plots: Any = importlib.import_module("vok_math.plots")
        return plots.plot_discovery(self, path, **kw)

    # --- saving ---

    def _state(self) -> dict[str, Any]:
        return {"names": list(self.names), "n_samples": self.n_samples,
                "dropped_rows": self.dropped_rows, "noise_floor": self.noise_floor,
                "settings": self.settings, "stopped": self.stopped,
                "evaluations": self.evaluations, "elapsed": self.elapsed,
                "sizes": list(self.sizes), "candidates": list(self._candidates),
                "equations": [e._state() for e in self.equations], "best": self._best}

    def save(self, path: str | os.PathLike[str]) -> None:
        """Writes the discovery to a JSON file that :func:`load` reads back exactly."""
        text = export.dumps_state(self._state())
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def __reduce__(self) -> tuple[Callable[[dict[str, Any]], Discovery], tuple[dict[str, Any]]]:
        return _from_state, (self._state(),)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Discovery):
            return NotImplemented
        return self._state() == other._state()

    __hash__ = None  # type: ignore[assignment]


def _from_state(state: dict[str, Any], source: str = "pickled discovery") -> Discovery:
    """A Discovery from its state, checked field by field: ValueError, never a half-built one."""
    def field(key: str, kind: type | tuple[type, ...], where: Mapping[str, Any] = state) -> Any:
        if key not in where:
            raise ValueError(f"{source}: missing field {key!r}")
        value = where[key]
        if kind is float and type(value) is int:
            value = float(value)
        if not isinstance(value, kind) or (isinstance(value, bool) and kind in (int, float)):
            raise ValueError(f"{source}: field {key!r} has a bad value {value!r}")
        return value

    try:
        d = Discovery.__new__(Discovery)
        d.names = check_names(field("names", list), len(state["names"]))
        d.n_samples = field("n_samples", int)
        d.dropped_rows = field("dropped_rows", int)
        d.noise_floor = field("noise_floor", float)
        d.settings = dict(field("settings", dict))
        d.stopped = field("stopped", str)
        if d.stopped not in _STOPPED:
            raise ValueError(f"{source}: unknown stop reason {d.stopped!r}")
        d.evaluations = field("evaluations", int)
        d.elapsed = field("elapsed", float)
        d.sizes = tuple(dict(s) for s in field("sizes", list))
        d._candidates = tuple(dict(c) for c in field("candidates", list))
        equations = []
        for e in field("equations", list):
            eq = Equation.from_parts(field("program", list, e), field("scale", float, e),
                                     field("offset", float, e), d.names, field("sse", float, e),
                                     field("rmse", float, e), field("r2", float, e))
            if eq.size != field("size", int, e):
                raise ValueError(f"{source}: equation size {e['size']} does not match its program")
            equations.append(eq)
        d.equations = tuple(equations)
        best = state.get("best")
        if not (best is None or (type(best) is int and 0 <= best < len(equations))):
            raise ValueError(f"{source}: bad best equation index {best!r}")
        d._best = best
    except (TypeError, KeyError, AttributeError) as e:
        raise ValueError(f"{source}: not a valid discovery ({e})") from None
    except ValueError as e:
        if str(e).startswith(source):
            raise
        raise ValueError(f"{source}: {e}") from None
    return d


def load(path: str | os.PathLike[str]) -> Discovery:
    """Reads a discovery written by :meth:`Discovery.save`.

    Raises ValueError, naming the file, when it is corrupt, truncated, not a discovery, or
    written by a newer version of vok_math.
    """
    with open(path, encoding="utf-8") as f:
        text = f.read()
    source = os.fspath(path)
    return _from_state(export.loads_state(text, source), source)


# --- the search ---

def _count(name: str, value: object, low: int, high: int | None = None) -> int:
    try:
        if isinstance(value, bool):
            raise TypeError
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if number < low or (high is not None and number > high):
        raise ValueError(f"{name} must be {'between ' + str(low) + ' and ' + str(high) if high else 'at least ' + str(low)}, got {number}")
    return number


def _operators(operators: Sequence[str] | None) -> tuple[list[str], list[str]]:
    if operators is None:
        operators = DEFAULT_OPERATORS
    if isinstance(operators, str):
        raise TypeError("operators must be a sequence of names, such as ['add', 'mul', 'exp']")
    chosen = set()
    for op in operators:
        name = _ALIASES.get(op, op)
        if name not in UNARY_OPS + BINARY_OPS:
            raise ValueError(f"unknown operator {op!r}; known: {', '.join(UNARY_OPS + BINARY_OPS)}")
        chosen.add(name)
    # Canonical order: the same set gives the same search whatever order it was given in.
    return [op for op in UNARY_OPS if op in chosen], [op for op in BINARY_OPS if op in chosen]


def _constants(constants: Sequence[float] | None) -> list[float]:
    if constants is None:
        return list(DEFAULT_CONSTANTS)
    out = []
    for c in constants:
        value = float(c)
        if not math.isfinite(value):
            raise ValueError(f"constants must be finite, got {c!r}")
        if value not in out:
            out.append(value)
    return out


def _seconds(time_limit: float | None) -> float:
    if time_limit is None:
        return DEFAULT_TIME_LIMIT
    value = float(time_limit)
    if not value > 0:
        raise ValueError(f"time_limit must be positive (math.inf for none), got {time_limit!r}")
    return 0.0 if math.isinf(value) else value


class _ProgressBar:
    """A tqdm bar per size: candidates of the size, best error so far, time budget left.
    It appears only once a search has run for half a second."""

    _DELAY = 0.5

    def __init__(self, time_limit: float) -> None:
        try:
            from tqdm.auto import tqdm
        except ImportError:
            raise ImportError("progress bars need tqdm: pip install tqdm") from None
        self._tqdm = tqdm
        self._time_limit = time_limit
        self._size = 0
        self._bar: Any = None

    def __call__(self, info: Mapping[str, Any]) -> None:
        if self._bar is None:
            if info["elapsed"] < self._DELAY:
                return
            self._size = info["size"]
            self._bar = self._tqdm(total=max(int(info["expected"]), 1), desc=f"size {self._size}",
                                   unit="cand", unit_scale=True, leave=False, dynamic_ncols=True)
        bar = self._bar
        if info["size"] != self._size:
            self._size = info["size"]
            bar.set_description(f"size {self._size}", refresh=False)
            bar.reset(total=max(int(info["expected"]), 1))
        bar.n = int(info["done"])
        post = f"best rmse {info['best_rmse']:.3g}"
        if self._time_limit:
            post += f", {max(self._time_limit - info['elapsed'], 0.0):.0f} s left"
        bar.set_postfix_str(post, refresh=False)
        bar.refresh()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()


def discover(X: Any, y: Any, *, names: Sequence[str] | None = None, max_size: int | None = None,
             time_limit: float | None = None, max_evaluations: int | None = None,
             operators: Sequence[str] | None = None, constants: Sequence[float] | None = None,
             scaling: bool = True, n_threads: int | None = None, memory_limit: int | None = None,
             progress: ProgressArg = None, drop_nonfinite: bool = False,
             max_rows: int | None = None) -> Discovery:
    """Finds formulas y ≈ f(X): every expression up to ``max_size`` tokens, scored exactly.

    Parameters
    ----------
    X : array-like (n_samples, n_features), pandas DataFrame, or list of rows
        The variables; a 1-D array is one variable. A DataFrame's column names become the
        variable names. Ints and float32 are converted to float64.
    y : array-like (n_samples,)
        The target.
    names : sequence of str, optional
        Variable names (identifiers, distinct). Default: the DataFrame's columns, else ``x``
        for one variable and ``x0, x1, ...`` for several.
    max_size : int, default 10
        Largest expression enumerated, in tokens (1 to 30). 10 holds laws such as
        E = m·v²/2 (6 tokens with its constant) or exp(-x²) with room to spare, and completes
        on one variable in seconds.
    time_limit : float, default 60
        Seconds; the search then returns the front found so far (``stopped == "time"``).
        ``math.inf`` for none. With a time limit the outcome can depend on the machine;
        ``max_evaluations`` does not.
    max_evaluations : int, optional
        Budget of candidates scored (default: none).
    operators : sequence of str, optional
        Any of neg, inv, exp, ln (or log), sqrt, sin, cos, abs, add (+), sub (-), mul (*),
        div (/), vok (vok(a, b) = exp(a) - ln(b)). Default: all but abs and vok, the
        operators of plain physical laws; vok doubles the candidates of each size and mostly
        adds lookalikes that fit noise (add it with ``operators=[*DEFAULT_OPERATORS, "vok"]``).
    constants : sequence of float, default (1,)
        Constant leaves. With scaling, constant factors and terms are fitted, so a constant
        leaf is only needed inside an expression (1 + x²); 2 is 1 + 1 and a second leaf
        makes each size two to three times slower.
    scaling : bool, default True
        Fit y ≈ a·f(X) + b for every candidate (least squares, closed form), so 9.81·x or
        E = m·v²/2 need no constant leaves. Fitted a and b count one size each unless they are 1
        and 0; a fitted constant within rounding of a simple number (1/2, 3/2, 9.81) is written
        as that number.
    n_threads : int, optional
        Worker threads (default: the process-wide pool). Results do not depend on it.
    memory_limit : int, optional
        Bytes the search may hold (default: a safe share of physical memory).
    progress : bool or callable, optional
        A progress bar on stderr (default: when stderr is a terminal), or a callable given a
        dict (size, done, expected, best_rmse, elapsed) about ten times a second.
    drop_nonfinite : bool, default False
        Drop rows with NaN or infinite values (with a warning saying how many) instead of
        raising ValueError.
    max_rows : int, default 5000
        Longer data are searched on this many evenly spread rows, and the equations found are
        then fitted and measured on every row. 5000 rows tell formulas apart as well as any
        more would while keeping a search of millions of candidates within seconds.

    Returns
    -------
    Discovery
        The search stops early once an equation fits exactly (error at the noise floor).
        Ctrl-C returns the front found so far with ``stopped == "interrupted"`` and a
        :class:`SearchInterruptedWarning`; a second Ctrl-C raises KeyboardInterrupt.

    Examples
    --------
    >>> import numpy as np
    >>> m, v = np.meshgrid(np.linspace(1, 3, 5), np.linspace(-2, 2, 5))
    >>> X = np.column_stack([m.ravel(), v.ravel()])
    >>> d = discover(X, 0.5 * X[:, 0] * X[:, 1] ** 2, names=["m", "v"], progress=False)
    >>> d.best.formula
    '0.5 * m * v * v'
    >>> d.best.sympy()
    m*v**2/2
    >>> d.stopped
    'complete'
    """
    data, dropped = _prepare(X, y, names, drop_nonfinite, stacklevel=3)
    unary, binary = _operators(operators)
    yy = data.y
    floor = _NOISE * float(np.sqrt(np.mean(yy * yy)))
    settings: dict[str, Any] = {
        "max_size": DEFAULT_MAX_SIZE if max_size is None else _count("max_size", max_size, 1, 30),
        "time_limit": _seconds(time_limit),
        "max_evaluations": 0 if max_evaluations is None else _count("max_evaluations",
                                                                     max_evaluations, 1),
        "unary": unary, "binary": binary, "constants": _constants(constants),
        "scaling": bool(scaling), "front_size": _FRONT_SIZE,
        "memory_limit": 0 if memory_limit is None else _count("memory_limit", memory_limit, 1),
        "n_threads": 0 if n_threads is None else _count("n_threads", n_threads, 1),
        "target_rmse": floor,
        "max_rows": DEFAULT_MAX_ROWS if max_rows is None else _count("max_rows", max_rows, 2),
    }
    if progress is None:
        progress = sys.stderr is not None and sys.stderr.isatty()
    bar = _ProgressBar(settings["time_limit"]) if progress is True else None
    callback = bar if bar is not None else (progress if callable(progress) else None)
    try:
        raw = _engine.enumerate(data.columns, yy, progress=callback, **settings)
    finally:
        if bar is not None:
            bar.close()
    front = _equations(data.columns, yy, data.names, raw["front"], floor)
    d = Discovery.__new__(Discovery)
    d.equations, d.names, d.settings = tuple(front), data.names, settings
    # An exact fit ends the search as complete: no larger equation can be more accurate.
    d.stopped = "complete" if raw["stopped"] == "target" else raw["stopped"]
    d.evaluations, d.elapsed = raw["evaluations"], raw["elapsed"]
    d.sizes = tuple(dict(s) for s in raw["sizes"])
    d._candidates = tuple(dict(c, program=[list(t) for t in c["program"]]) for c in raw["front"])
    d.n_samples, d.dropped_rows, d.noise_floor = len(yy), dropped, floor
    d._best = _choose_best(front, floor, float(np.std(yy)))
    if d.stopped == "interrupted":
        warnings.warn(f"interrupted: returning the {len(front)} equations found so far",
                      SearchInterruptedWarning, stacklevel=2)
    return d
