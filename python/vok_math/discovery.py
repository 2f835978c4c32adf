"""discover(): formula discovery on tabular data, and what it returns (Discovery).

The native engine enumerates every expression by size and keeps, per size, the best few
candidates with their least-squares scale and offset; :mod:`vok_math.front` makes them the
Pareto front of equations and chooses the best. A Discovery holds that front and how the search
went, and saves it to a file that :func:`load` reads back exactly.
"""

from __future__ import annotations

import dataclasses
import os
import time
import warnings
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from html import escape
from typing import TYPE_CHECKING, Any, cast

import numpy as np

from vok_math import _engine, plots
from vok_math.data import check_names, prepare_samples
from vok_math.equation import Equation
from vok_math.front import Made, Samples, build_front, choose_best
from vok_math.linear_fit import exponent
from vok_math.model_choice import MODEL_SELECTIONS, ModelSelection
from vok_math.progress import KeptCallback, ProgressArg, search_progress
from vok_math.records import STOP_REASONS, Candidate, EngineResult, SearchSettings, SizeReport
from vok_math.settings import (
    DEFAULT_CONSTANTS,
    DEFAULT_MAX_ROWS,
    DEFAULT_MAX_SIZE,
    DEFAULT_MODEL_SELECTION,
    DEFAULT_OPERATORS,
    DEFAULT_TIME_LIMIT,
    check_model_selection,
    search_settings,
)
from vok_math.slices import enumerate_split
from vok_math.state import (
    CANDIDATE_FIELDS,
    EQUATION_FIELDS,
    SETTINGS_FIELDS,
    SIZE_FIELDS,
    Count,
    DiscoveryState,
    ListOf,
    Real,
    StateReader,
    dumps_state,
    loads_state,
    shown,
)
from vok_math.terms import check_terms, first_budget, one_term_front, several_terms

if TYPE_CHECKING:
    import pandas as _pandas

__all__ = ["discover", "Discovery", "Equation", "load", "SearchInterruptedWarning",
           "DEFAULT_MAX_SIZE", "DEFAULT_TIME_LIMIT", "DEFAULT_MAX_ROWS", "DEFAULT_OPERATORS",
           "DEFAULT_CONSTANTS"]


# Beyond 2^±200 (about 1e±60) the target is searched scaled by a power of two.
_SAFE_EXPONENT = 200


class SearchInterruptedWarning(RuntimeWarning):
    """Ctrl-C stopped a discovery; the result holds the equations found until then."""


def _r2_text(r2: float) -> str:
    return f"{round(r2, 6) + 0.0:.6f}"     # + 0.0: no "-0.000000" for a rounding-level r2


@dataclass(frozen=True, eq=False, repr=False, slots=True)
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
        Where the budgets leave no room to keep a size for the next, it is scored complete
        but not kept, as the largest is, and the sizes above it are built from the best few
        of each smaller size (complete False). At those sizes ``valid`` leaves out the
        candidates ruled out part-way through their rows. Unless a time limit or Ctrl-C cut
        the search short, every count is the same whatever the worker count.
    evaluations : int
        Candidates scored.
    elapsed : float
        Seconds the search took.
    n_samples, dropped_rows : int
        Rows searched, and rows dropped for non-finite values (``drop_nonfinite=True``).
    """

    equations: tuple[Equation, ...]
    names: tuple[str, ...]
    stopped: str
    settings: SearchSettings
    sizes: tuple[SizeReport, ...]
    evaluations: int
    elapsed: float
    n_samples: int
    dropped_rows: int
    noise_floor: float
    _best: int | None
    _candidates: tuple[Candidate, ...]
    model_selection: ModelSelection = DEFAULT_MODEL_SELECTION
    """The criterion that chose ``best`` (see :mod:`vok_math.model_choice`)."""

    @property
    def best(self) -> Equation:
        """The chosen equation.

        The smallest exact equation (error within the rounding of y's own numbers,
        ``noise_floor``) when there is one; otherwise the one with the lowest value of the
        criterion ``model_selection`` (each equation's ``criterion``): by default a
        description length that weighs the residuals at the noise level the fit implies
        against the fitted constants and the expressions the search tried (see
        :mod:`vok_math.model_choice`).
        """
        if self._best is None:
            raise ValueError(f"no equation was found (the search stopped: {self.stopped})")
        return self.equations[self._best]

    def table(self) -> _pandas.DataFrame | list[dict[str, Any]]:
        """The front as a table: size, rmse, r2, formula, the fitted constants with their
        standard errors, the noise level and criterion, and which one is best.

        A pandas DataFrame when pandas is installed, else a list of dicts.
        """
        columns = ["size", "rmse", "r2", "formula", "best", "scale", "scale_se", "offset",
                   "offset_se", "sigma", "dof", "criterion"]
        rows = [{"size": e.size, "rmse": e.rmse, "r2": e.r2, "formula": e.formula,
                 "best": i == self._best, "scale": e.scale, "scale_se": e.scale_se,
                 "offset": e.offset, "offset_se": e.offset_se, "sigma": e.sigma, "dof": e.dof,
                 "criterion": e.criterion}
                for i, e in enumerate(self.equations)]
        try:
            import pandas as pd
        except ImportError:
            return rows
        return pd.DataFrame(rows, columns=columns)

    def _summary(self) -> str:
        return (f"{len(self.equations)} equation{'s' if len(self.equations) != 1 else ''} over "
                f"({', '.join(self.names)}) from {self.n_samples} samples; stopped: {self.stopped} "
                f"after {self.evaluations:,} candidates in {self.elapsed:.3g} s")

    def __repr__(self) -> str:
        lines = [f"Discovery: {self._summary()}", " size       rmse         r2  formula"]
        for i, e in enumerate(self.equations):
            mark = "*" if i == self._best else " "
            lines.append(f"{mark}{e.size:4d}  {e.rmse:9.3e}  {_r2_text(e.r2):>9}  {e.formula}")
        uncertain = [(e.size, e.constants_text()) for e in self.equations if e.constants_text()]
        if uncertain:
            lines.append("fitted constants (± standard error):")
            lines += [f"{size:5d}  {text}" for size, text in uncertain]
        return "\n".join(lines)

    def _repr_html_(self) -> str:
        head = "".join(f"<th>{h}</th>" for h in ("", "size", "rmse", "r2", "formula"))
        body = "".join(
            f"<tr><td>{'best' if i == self._best else ''}</td><td>{e.size}</td>"
            f"<td>{e.rmse:.3e}</td><td>{_r2_text(e.r2)}</td>"
            f"<td><code>{escape(e.formula)}</code></td></tr>"
            for i, e in enumerate(self.equations))
        return (f"<p>Discovery: {escape(self._summary())}</p>"
                f"<table><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>")

    def plot(self, path: str | os.PathLike[str] | None = None, **kw: Any) -> Any:
        """Plots the front (needs matplotlib); see :func:`vok_math.plots.plot_discovery`."""
        return plots.plot_discovery(self, path, **kw)

    # --- saving ---

    def to_state(self) -> DiscoveryState:
        """Everything the discovery holds, as :meth:`save` writes it and a pickle carries it."""
        return {"names": list(self.names), "n_samples": self.n_samples,
                "dropped_rows": self.dropped_rows, "noise_floor": self.noise_floor,
                "model_selection": self.model_selection, "settings": self.settings, "stopped": self.stopped,
                "evaluations": self.evaluations, "elapsed": self.elapsed,
                "sizes": list(self.sizes), "candidates": list(self._candidates),
                "equations": [e.to_state() for e in self.equations], "best": self._best}

    @classmethod
    def from_state(cls, state: Mapping[str, Any], source: str = "pickled discovery") -> Discovery:
        """A Discovery from its state, checked field by field: ValueError, never a half-built one."""
        read = StateReader(state, source)
        with read.errors():
            names = check_names(read.field("names", ListOf(str, 1)), len(state["names"]))
            n_samples = read.field("n_samples", Count(2))
            dropped_rows = read.field("dropped_rows", Count())
            noise_floor = read.field("noise_floor", Real(0.0))
            settings = cast(SearchSettings, read.record(
                read.field("settings", dict), SETTINGS_FIELDS, "settings",
                optional=tuple(SETTINGS_FIELDS), closed=True))
            stopped = read.field("stopped", str)
            if stopped not in STOP_REASONS:
                raise ValueError(f"{source}: unknown stop reason {shown(stopped)}")
            evaluations = read.field("evaluations", Count())
            elapsed = read.field("elapsed", Real(0.0))
            sizes = tuple(cast(SizeReport, s) for s in read.records("sizes", SIZE_FIELDS))
            candidates = tuple(cast(Candidate, c)
                               for c in read.records("candidates", CANDIDATE_FIELDS))
            equations = tuple(_equation_from_state(read, e, names) for e in read.records(
                "equations", EQUATION_FIELDS, optional=(*_UNCERTAINTIES, "terms")))
            model_selection = state.get("model_selection", "knee")  # the only one before
            if model_selection not in MODEL_SELECTIONS:
                raise ValueError(f"{source}: unknown model selection {shown(model_selection)}")
            best = state.get("best")
            # A search that found equations always chooses one.
            if not ((type(best) is int and 0 <= best < len(equations))
                    or (best is None and not equations)):
                raise ValueError(f"{source}: bad best equation index {shown(best)}")
            return cls(equations, names, stopped, settings, sizes, evaluations, elapsed, n_samples,
                       dropped_rows, noise_floor, best, candidates, model_selection)

    def save(self, path: str | os.PathLike[str]) -> None:
        """Writes the discovery to a JSON file that :func:`load` reads back exactly."""
        text = dumps_state(self.to_state())
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def __reduce__(self) -> tuple[Callable[[dict[str, Any]], Discovery], tuple[DiscoveryState]]:
        return _from_state, (self.to_state(),)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Discovery):
            return NotImplemented
        # As the files compare: NaN (a constant without a standard error) equals NaN.
        return dumps_state(self.to_state()) == dumps_state(other.to_state())

    __hash__ = None  # type: ignore[assignment]


def _equation_from_state(read: StateReader, entry: Mapping[str, Any],
                         names: tuple[str, ...]) -> Equation:
    """An equation from its checked fields (see EQUATION_FIELDS)."""
    eq = Equation.from_parts(entry["program"], entry["scale"], entry["offset"], names,
                             entry["sse"], entry["rmse"], entry["r2"], entry.get("terms", []))
    if eq.size != entry["size"]:
        raise ValueError(f"{read.source}: equation size {entry['size']} does not match its program")
    extra = {k: entry[k] for k in _UNCERTAINTIES if k in entry}
    return dataclasses.replace(eq, **extra) if extra else eq


# Files written before the constants' uncertainties lack them.
_UNCERTAINTIES = ("scale_se", "offset_se", "covariance", "sigma", "dof", "criterion")


def _from_state(state: dict[str, Any], source: str = "pickled discovery") -> Discovery:
    # Pickles name this function: it keeps its name and place so that they load.
    return Discovery.from_state(state, source)


def load(path: str | os.PathLike[str]) -> Discovery:
    """Reads a discovery written by :meth:`Discovery.save`.

    Raises ValueError, naming the file, when it is corrupt, truncated, not UTF-8 text, not a
    discovery, holds values no search writes (a negative count, an infinite error, a
    setting of the wrong type), or was written by a newer version of vok_math.
    """
    source = os.fspath(path)
    with open(path, "rb") as f:
        data = f.read()
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise ValueError(f"{source}: not a vok_math discovery file (not UTF-8 text: byte "
                         f"0x{data[e.start]:02x} at offset {e.start})") from None
    return Discovery.from_state(loads_state(text, source), source)


# Long for its docstring: the one reference of every parameter.
def discover(X: Any, y: Any, *, names: Sequence[str] | None = None, max_size: int | None = None,
             time_limit: float | None = None, max_evaluations: int | None = None,
             operators: Sequence[str] | None = None, constants: Sequence[float] | None = None,
             scaling: bool = True, n_threads: int | None = None, memory_limit: int | None = None,
             progress: ProgressArg = None, drop_nonfinite: bool = False,
             max_rows: int | None = None, client: Any = None, sample_weight: Any = None,
             model_selection: ModelSelection = DEFAULT_MODEL_SELECTION,
             terms: int | None = None) -> Discovery:
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
        Any of neg, inv, exp, ln (or log), sqrt, sin, cos, abs, square, cube, tanh, asin (or
        arcsin), acos (or arccos), atan (or arctan), add (+), sub (-), mul (*), div (/), vok
        (vok(a, b) = exp(a) - ln(b)). Default: neg, inv, exp, ln, sqrt, sin, cos, square,
        cube and the four arithmetic ones, the operators of plain physical laws; the others
        are taken on request (``operators=[*DEFAULT_OPERATORS, "tanh"]``): vok doubles the
        candidates of each size and mostly adds lookalikes that fit noise. square and cube
        are one token each (v**2 is 2 tokens instead of 3), asin and acos have no value
        outside [-1, 1].
    constants : sequence of float, default (1,)
        Constant leaves. With scaling, constant factors and terms are fitted, so a constant
        leaf is only needed inside an expression (1 + x²); 2 is 1 + 1 and a second leaf
        makes each size two to three times slower.
    scaling : bool, default True
        Fit y ≈ a·f(X) + b for every candidate (least squares, closed form), so 9.81·x or
        E = m·v²/2 need no constant leaves. Fitted a and b count one size each unless they are 1
        and 0. Each equation carries their standard errors; a fitted constant the data cannot
        tell from 1, 0, a small rational (1/2, 3/2), or a rational multiple of π, 1/π, 2π, 4π,
        √2, √π, √(2π) or e is written as that number (BIC does not rise; on clean data, only a
        number within rounding of the fit).
    n_threads : int, optional
        Worker threads (default: the process-wide pool). Results do not depend on it.
    memory_limit : int, optional
        Bytes the search may hold (default: a safe share of physical memory).
    progress : bool or callable, optional
        A progress bar on stderr (default: when stderr is a terminal), or a callable given a
        dict (size, done, expected, best_rmse, elapsed) about ten times a second. An
        exception the callable raises stops the search and is raised by discover, with the
        front found until then kept on it: its ``discovery`` attribute is the Discovery
        (``stopped == "interrupted"``) that discover would have returned.
    drop_nonfinite : bool, default False
        Drop rows with NaN or infinite values (with a warning saying how many) instead of
        raising ValueError.
    max_rows : int, default 500
        Longer data are searched on this many evenly spread rows, and the equations found are
        then fitted and measured on every row (an exact fit ends the search only when it holds
        on every row). 500 rows tell formulas apart as well as more do, and a search on them
        runs as fast on 10,000 rows as on 500.
    sample_weight : array-like (n_samples,), optional
        Non-negative weights of the rows (such as 1/σᵢ² of their measurement errors): the
        constants are fitted by weighted least squares and errors are weighted. A row of weight
        0 takes no part.
    model_selection : {"mdl", "bic", "knee"}, default "mdl"
        How ``best`` is chosen when no equation is exact: a description length (residuals at
        the fitted noise level, fitted constants, and the expressions the search tried up to
        the equation's size), the BIC, or the knee of error against size.
    terms : int, optional
        Laws of up to this many terms, y ≈ c0 + c1·f1 + … + c_terms·f_terms, whose terms f are
        expressions of the enumeration (1 to 5; above 1 needs scaling; 1 searches one
        expression only). The terms are screened from the front of y and from enumerations of
        the residual of the law found so far, then every combination of them is fitted exactly
        (see :mod:`vok_math.terms`); such a law counts its terms' tokens plus its written
        constants, and joins the front beside the others; unless the first enumeration meets
        the target, it takes 60 % of the time and evaluation budgets. Default: up to 3 terms
        in what the one-term search leaves of the budgets (its residual rounds up to 8
        tokens), a sum joining the front only when it fits exactly: on noisy data a sum of
        terms can fit the noise better than the true law of one, so ask for terms where the
        law is known to be a sum.
    client : dask.distributed.Client, optional
        Split the largest size across the cluster's workers, with the same front bit for
        bit (see :func:`vok_math.distributed.enumerate_split`). ``time_limit`` then bounds
        the smaller sizes only; ``max_evaluations`` is refused.

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
    '0.5 * m * v**2'
    >>> d.best.sympy()
    m*v**2/2
    >>> d.stopped
    'complete'
    """
    kind = check_model_selection(model_selection)
    n_terms = check_terms(terms, bool(scaling))
    started = time.monotonic()
    data, dropped, weights = prepare_samples(X, y, names, drop_nonfinite, stacklevel=3,
                                             weights=sample_weight)
    columns, yy = data.columns, data.y
    if weights is not None:
        # A row of weight 0 takes no part: the engine searches the others.
        used = weights > 0
        if np.count_nonzero(used) < 2:
            raise ValueError(f"sample_weight: {np.count_nonzero(used)} row has positive weight; "
                             "at least 2 rows must count")
        columns, yy, weights = np.ascontiguousarray(columns[:, used]), yy[used], weights[used]
    # Far beyond ordinary magnitudes the engine's sums of squares would overflow or underflow:
    # with fitted constants it then searches y scaled by a power of two, which changes no bit
    # of what it finds (without them the candidates' own values must meet y where it is).
    top = exponent(yy)
    shift = top if scaling and abs(top) > _SAFE_EXPONENT else 0
    settings = search_settings(max_size=max_size, time_limit=time_limit,
                               max_evaluations=max_evaluations, operators=operators,
                               constants=constants, scaling=scaling, memory_limit=memory_limit,
                               n_threads=n_threads, max_rows=max_rows, y=yy)
    floor = settings["target_rmse"]
    searched = np.ldexp(yy, -shift) if shift else yy
    engine_settings: dict[str, Any] = {**settings, "target_rmse": float(np.ldexp(floor, -shift))}
    if weights is not None:
        engine_settings["weights"] = weights
    first = first_budget(engine_settings, n_terms, asked=terms is not None)
    reporter, bar = search_progress(progress, settings["time_limit"])
    callback = None if reporter is None else KeptCallback(reporter)
    try:
        if client is None:
            # The engine's stub types the progress info as a plain dict.
            raw = cast(EngineResult, _engine.enumerate(columns, searched,
                                                       progress=cast(Any, callback),
                                                       **first))
        else:
            raw = enumerate_split(client, columns, searched, first, progress=callback)
    finally:
        if bar is not None:
            bar.close()
    samples = Samples(columns, yy, weights, floor, shift, bool(scaling))
    sizes = tuple(cast(SizeReport, dict(s)) for s in raw["sizes"])
    stopped, evaluations, elapsed = raw["stopped"], raw["evaluations"], raw["elapsed"]
    candidates = one_term_front(raw["front"], settings["front_size"])
    several: tuple[Made, ...] = ()
    # An exact law of one expression ends the search; so does Ctrl-C or a full memory. The
    # default's rounds take only what the one-term search left of the budgets.
    ended = {"target", "interrupted", "memory"} | ({"time", "evaluations"} if terms is None
                                                   else set())
    if n_terms > 1 and stopped not in ended:
        outcome = several_terms(samples, data.names, engine_settings, raw, n_terms, kind,
                                started, searched, asked=terms is not None)
        several, evaluations = outcome.equations, evaluations + outcome.evaluations
        elapsed = time.monotonic() - started
        if outcome.interrupted:
            stopped = "interrupted"
        elif outcome.out_of_memory:
            stopped = "memory"
    front, best = choose_best(build_front(samples, data.names, candidates, several), samples,
                              sizes, kind)
    if terms is not None and n_terms > 1:
        settings["terms"] = n_terms
    d = Discovery(
        tuple(front), data.names,
        # An exact fit ends the search as complete: no larger equation can be more accurate.
        "complete" if stopped == "target" else stopped,
        settings, sizes, evaluations, elapsed, len(data.y), dropped, floor, best,
        tuple(cast(Candidate, dict(c, program=[list(t) for t in c["program"]]))
              for c in candidates), kind)
    if callback is not None and callback.error is not None:
        # The callback's own exception, carrying what the search had found when it raised.
        error = callback.error
        error.discovery = d  # type: ignore[attr-defined]
        error.add_note(f"vok_math: the progress callback raised, which stopped the search; "
                       f"the {len(front)} equations found so far are on this exception's "
                       f".discovery")
        raise error
    if d.stopped == "interrupted":
        warnings.warn(f"interrupted: returning the {len(front)} equations found so far",
                      SearchInterruptedWarning, stacklevel=2)
    return d
