"""Figures of a discovery: predicted against observed, the residuals, and the Pareto front.

matplotlib is an optional extra (``pip install matplotlib``), imported only when a figure is
drawn. Given a file name, a function draws on a figure of its own that no pyplot window or
global state knows about (safe on a machine without a display, and in threads); without one,
the figure comes from pyplot so that a notebook shows it and ``plt.show()`` opens it.

The functions take anything shaped like a :class:`vok_math.Discovery` (``best``, ``equations``)
and its :class:`vok_math.Equation` s (``size``, ``rmse``, ``formula``, ``predict``).
"""

from __future__ import annotations

import os
from collections.abc import Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any, Protocol

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure

FIGSIZE = (15.0, 4.5)
PANEL = (5.0, 4.5)
DPI = 100
# Long formulas would run over the neighbouring panel.
TITLE_CHARS = 48


class EquationLike(Protocol):
    @property
    def size(self) -> int: ...
    @property
    def rmse(self) -> float: ...
    @property
    def formula(self) -> str: ...
    def predict(self, X: Any) -> Any: ...


class DiscoveryLike(Protocol):
    @property
    def best(self) -> EquationLike: ...
    @property
    def equations(self) -> Sequence[EquationLike]: ...


def _matplotlib() -> None:
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        raise ImportError("vok_math's figures need matplotlib: pip install matplotlib") from None


def _new_figure(path: str | os.PathLike[str] | None, figsize: tuple[float, float]) -> Figure:
    _matplotlib()
    if path is None:
        import matplotlib.pyplot as plt
        return plt.figure(figsize=figsize)
    from matplotlib.figure import Figure
    return Figure(figsize=figsize)


def _save(fig: Figure, path: str | os.PathLike[str] | None, dpi: float) -> Figure:
    if path is not None:
        suffix = Path(path).suffix.lower().lstrip(".")
        if suffix not in ("png", "svg"):
            raise ValueError(f"cannot write {os.fspath(path)!r}: the name must end in .png or .svg")
        fig.savefig(path, dpi=dpi, format=suffix)
    return fig


def _short(text: str) -> str:
    return text if len(text) <= TITLE_CHARS else text[: TITLE_CHARS - 1] + "…"


def _fit_values(equation: EquationLike, X: npt.ArrayLike, y: npt.ArrayLike
                ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], npt.NDArray[np.bool_]]:
    observed = np.asarray(y, dtype=np.float64).ravel()
    predicted = np.asarray(equation.predict(X), dtype=np.float64).ravel()
    if predicted.shape != observed.shape:
        raise ValueError(f"y has {observed.size} values but X has {predicted.size} rows")
    return observed, predicted, np.isfinite(predicted) & np.isfinite(observed)


def draw_fit(ax: Axes, equation: EquationLike, X: npt.ArrayLike, y: npt.ArrayLike,
             target: str = "y") -> None:
    """Predicted against observed on `ax`, with the identity line and the fit's RMSE."""
    observed, predicted, ok = _fit_values(equation, X, y)
    ax.scatter(observed[ok], predicted[ok], s=14, alpha=0.75, color="tab:blue", label="rows")
    both = np.concatenate([observed[ok], predicted[ok]])
    if both.size:
        low, high = float(both.min()), float(both.max())
        pad = 0.02 * (high - low) or 0.5
        ax.plot([low - pad, high + pad], [low - pad, high + pad], color="0.3", lw=1,
                ls="--", label="predicted = observed")
    rmse = float(np.sqrt(np.mean((observed[ok] - predicted[ok]) ** 2))) if ok.any() else np.nan
    note = f"RMSE {rmse:.3g}"
    if not ok.all():
        note += f"\n{int((~ok).sum())} rows without a value"
    ax.text(0.03, 0.97, note, transform=ax.transAxes, va="top", fontsize=9)
    ax.set(xlabel=f"observed {target}", ylabel=f"predicted {target}",
           title=_short(f"{target} = {equation.formula}"))
    ax.legend(loc="lower right", fontsize=8)


def draw_residuals(ax: Axes, equation: EquationLike, X: npt.ArrayLike, y: npt.ArrayLike,
                   target: str = "y") -> None:
    """Observed minus predicted against predicted on `ax`, around a zero line."""
    observed, predicted, ok = _fit_values(equation, X, y)
    ax.scatter(predicted[ok], observed[ok] - predicted[ok], s=14, alpha=0.75, color="tab:blue")
    ax.axhline(0.0, color="0.3", lw=1, ls="--")
    ax.set(xlabel=f"predicted {target}", ylabel="residual (observed − predicted)",
           title="residuals")


def draw_front(ax: Axes, discovery: DiscoveryLike) -> None:
    """The Pareto front on `ax`: error against size on a log scale, the chosen formula marked.

    An exact fit (error 0) has no place on a log scale: it is drawn a decade below the smallest
    other error, marked and labelled as exact.
    """
    equations = list(discovery.equations)
    sizes = np.array([e.size for e in equations], dtype=np.float64)
    errors = np.array([e.rmse for e in equations], dtype=np.float64)
    positive = errors[errors > 0]
    floor = float(positive.min()) / 10 if positive.size else 1e-16
    shown = np.where(errors > 0, errors, floor)
    ax.plot(sizes, shown, marker="o", color="tab:blue", lw=1, ms=5, label="front", zorder=2)
    exact = errors == 0
    if exact.any():
        ax.scatter(sizes[exact], shown[exact], marker="v", s=60, color="tab:green",
                   label="exact (RMSE 0)", zorder=3)
        for size in sizes[exact]:
            ax.annotate("RMSE 0", (size, floor), xytext=(0, 10), textcoords="offset points",
                        ha="center", fontsize=8, color="tab:green")
    best = discovery.best if equations else None
    if best is not None:
        chosen = next((i for i, e in enumerate(equations) if e.size == best.size), None)
        if chosen is not None:
            ax.scatter([sizes[chosen]], [shown[chosen]], marker="*", s=220, color="tab:red",
                       label=_short(f"chosen: {best.formula}"), zorder=4)
    ax.set_yscale("log")
    ax.set(xlabel="size (tokens)", ylabel="RMSE", title="Pareto front")
    if sizes.size:
        ax.set_xticks(sizes)
    ax.grid(True, which="major", alpha=0.3)
    ax.legend(fontsize=8)


def plot_fit(equation: EquationLike, X: npt.ArrayLike, y: npt.ArrayLike,
             path: str | os.PathLike[str] | None = None, *, target: str = "y",
             figsize: tuple[float, float] = PANEL, dpi: float = DPI) -> Figure:
    """Predicted against observed, with the identity line.

    Parameters
    ----------
    equation : Equation
        The formula to draw.
    X, y : array_like
        The rows it is drawn on.
    path : str or path-like, optional
        Write the figure there (.png or .svg).
    target : str
        The target's name, for the labels.
    figsize, dpi
        Inches and dots per inch: a PNG has ``figsize * dpi`` pixels.

    Returns
    -------
    matplotlib.figure.Figure
    """
    fig = _new_figure(path, figsize)
    draw_fit(fig.add_subplot(), equation, X, y, target)
    fig.tight_layout()
    return _save(fig, path, dpi)


def plot_residuals(equation: EquationLike, X: npt.ArrayLike, y: npt.ArrayLike,
                   path: str | os.PathLike[str] | None = None, *, target: str = "y",
                   figsize: tuple[float, float] = PANEL, dpi: float = DPI) -> Figure:
    """Residuals (observed − predicted) against predicted; parameters as :func:`plot_fit`."""
    fig = _new_figure(path, figsize)
    draw_residuals(fig.add_subplot(), equation, X, y, target)
    fig.tight_layout()
    return _save(fig, path, dpi)


def plot_front(discovery: DiscoveryLike, path: str | os.PathLike[str] | None = None, *,
               figsize: tuple[float, float] = PANEL, dpi: float = DPI) -> Figure:
    """The Pareto front: error against size on a log scale, the chosen formula marked."""
    fig = _new_figure(path, figsize)
    draw_front(fig.add_subplot(), discovery)
    fig.tight_layout()
    return _save(fig, path, dpi)


def plot_discovery(discovery: DiscoveryLike, path: str | os.PathLike[str] | None = None, *,
                   X: npt.ArrayLike | None = None, y: npt.ArrayLike | None = None,
                   equation: EquationLike | None = None, target: str = "y",
                   figsize: tuple[float, float] | None = None, dpi: float = DPI) -> Figure:
    """The fit, its residuals and the front side by side; the front alone without data.

    A discovery does not keep its data: give `X` and `y` for the fit and residual panels.

    Parameters
    ----------
    discovery : Discovery
        The run to draw.
    path : str or path-like, optional
        Write the figure there (.png or .svg); without it the figure comes from pyplot.
    X, y : array_like, optional
        The rows to draw the fit on (the training data, or new rows).
    equation : Equation, optional
        The formula of the fit panels (default: the chosen one, ``discovery.best``).
    target : str
        The target's name, for the labels.
    figsize : (float, float), optional
        Inches (default: 15 x 4.5 for three panels, 5 x 4.5 for the front alone).
    dpi : float
        Dots per inch: a PNG has ``figsize * dpi`` pixels.

    Returns
    -------
    matplotlib.figure.Figure
    """
    if (X is None) != (y is None):
        raise ValueError("give both X and y, or neither (for the front alone)")
    if X is None or y is None:
        return plot_front(discovery, path, figsize=figsize or PANEL, dpi=dpi)
    if equation is None:
        if not discovery.equations:
            raise ValueError("the run has no formula to draw")
        equation = discovery.best
    assert equation is not None
    fig = _new_figure(path, figsize or FIGSIZE)
    fit, residuals, front = fig.subplots(1, 3)
    draw_fit(fit, equation, X, y, target)
    draw_residuals(residuals, equation, X, y, target)
    draw_front(front, discovery)
    fig.tight_layout()
    return _save(fig, path, dpi)
