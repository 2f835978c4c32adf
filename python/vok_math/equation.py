"""Equation: one discovered formula, with its errors, its values and its exports."""

from __future__ import annotations

import dataclasses
import math
import sys
from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from vok_math import _engine, export
from vok_math.data import check_names, prepare_features
from vok_math.records import Token
from vok_math.state import EquationState

if TYPE_CHECKING:
    import sympy as _sympy

__all__ = ["Equation", "terms_size"]


def _column_list(columns: Any, shown: int = 8) -> str:
    labels = [repr(c) for c in list(columns)[:shown]]
    more = len(columns) - shown
    return ", ".join(labels) + (f" and {more} more" if more > 0 else "") if labels else "none"


@dataclass(frozen=True, repr=False, eq=False)
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
    scale_se: float = math.nan
    """Standard error of the fitted scale; NaN when the scale is not fitted (1, or a simple
    number the data cannot tell from the fit)."""
    offset_se: float = math.nan
    """Standard error of the fitted offset; NaN when it is not fitted."""
    covariance: float = math.nan
    """Covariance of the fitted scale and offset (NaN unless both are fitted)."""
    sigma: float = math.nan
    """The residuals' standard deviation, sqrt(sse / dof): the noise level the fit implies
    (with weights, relative to them)."""
    dof: int = 0
    """Degrees of freedom of ``sigma``: rows (with a positive weight) less fitted constants."""
    criterion: float = math.nan
    """The model choice's value for this equation (lower is better; see Discovery.best)."""
    term_sizes: tuple[int, ...] = ()
    """For a law of several terms, c1·f1 + c2·f2 + ... (the program, with its coefficients as
    constant tokens, and the intercept as the offset): the token count of each f. Its size
    is then the terms' tokens plus its written constants. Empty for one expression."""

    @classmethod
    def from_parts(cls, program: Sequence[Sequence[Any]], scale: float, offset: float,
                   names: Sequence[str], sse: float = math.nan, rmse: float = math.nan,
                   r2: float = math.nan, term_sizes: Sequence[int] = ()) -> Equation:
        """An equation from its parts (the errors are NaN unless given).

        >>> Equation.from_parts([("var", 0), ("const", 2.0), ("var", 1), ("op", "mul"),
        ...                      ("op", "add")], 1.0, 0.5, ["a", "b"], term_sizes=[1, 1]).size
        4
        """
        names_t = check_names(names, len(names))
        prog = export.check_program(program, len(names_t))
        for label, value in (("scale", scale), ("offset", offset)):
            if not math.isfinite(value):
                raise ValueError(f"{label} must be a finite number, got {value!r}")
        sizes = tuple(int(s) for s in term_sizes)
        if sizes and scale != 1.0:
            raise ValueError("a law of several terms has its coefficients in the program: "
                             f"scale must be 1, got {scale!r}")
        size = len(prog) + (scale != 1.0) + (offset != 0.0) if not sizes else \
            terms_size(len(prog), sizes, offset)
        return cls(prog, float(scale), float(offset), names_t, size, float(sse), float(rmse),
                   float(r2), term_sizes=sizes)

    @property
    def formula(self) -> str:
        """Infix text with the variable names and the fewest parentheses that keep the meaning."""
        return export.formula_text(self.program, self.scale, self.offset, self.names)

    def sympy(self) -> _sympy.Expr:
        """The equation as a sympy expression (needs sympy).

        Constants that are simple fractions (such as 1/2 or 2/3) become exact rationals. The
        form is the formula's mathematics, which holds where predict() has a value: log, sqrt,
        1/b and a/b on their domains, where exp does not overflow. vok(a, b) is written
        exp(a) - log(b), which holds for a <= 709.78 and b > 0 only: beyond, the engine guards
        it (exp(a) is exp(ln(a)) above 709.78, ln(b) is taken of max(|b|, 1e-300) where b <= 0).
        Where an operand is a number, its branch is written: vok(x, 0) is
        exp(x) + 690.775527898214. An equation without a value on any row (such as log(x - x))
        is nan.

        >>> Equation.from_parts([("var", 0), ("var", 0), ("op", "mul")], 0.5, 0.0, ["v"]).sympy()
        v**2/2
        """
        return export.to_sympy(self.program, self.scale, self.offset, self.names)

    def latex(self) -> str:
        r"""LaTeX of the sympy form (needs sympy), which holds where :meth:`sympy` says.

        Names follow sympy's LaTeX (v_max is v_{max}, alpha is α) where that shows all of the
        name as a variable; others are written as they are (x_ as \mathit{x\_}, pi as
        \mathit{pi}, not π).

        >>> Equation.from_parts([("var", 0), ("op", "sqrt")], 1.5, 0.0, ["h"]).latex()
        '\\frac{3 \\sqrt{h}}{2}'
        """
        return export.to_latex(self.program, self.scale, self.offset, self.names)

    def python(self, name: str = "f") -> str:
        """Source of a numpy function ``name(<every variable>)`` that computes the equation.

        The function takes arrays or numbers (broadcast together) and gives predict()'s values
        bit for bit, NaN where it has none: it keeps the search's order of operations and the
        engine's guards, and takes exp and log from the C library as the engine does (one
        number at a time: numpy's own can differ in the last bit). What it defines is named
        apart from the variables and ``name``; a ValueError says when ``name`` or two variable
        names cannot be Python names in it (a keyword; ﬁ and fi, which Python reads as one).

        >>> src = Equation.from_parts([("var", 1), ("op", "exp")], 2.0, 0.0, ["a", "b"]).python()
        >>> print(src.splitlines()[-3].strip())
        result = 2 * exp(b)
        >>> namespace = {}
        >>> exec(src, namespace)
        >>> namespace["f"]([0.0, 1.0], [1.0, 800.0])
        array([5.43656366,        nan])
        """
        return export.python_source(self.program, self.scale, self.offset, self.names, name)

    def _values(self, columns: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        f = np.asarray(_engine.evaluate(self.program, columns), dtype=np.float64)
        return (self.scale * f) + self.offset

    def predict(self, X: Any) -> npt.NDArray[np.float64]:
        """Values of the equation on the rows of X; NaN where it has no value.

        X is read as in :func:`discover`; a DataFrame with named columns is read by name (each
        variable's column must be there: a ValueError lists the missing ones), other columns
        are ignored. Rows with NaN or infinite values give NaN.
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
        if pd is not None and isinstance(X, pd.DataFrame) and \
                any(isinstance(c, str) for c in X.columns):
            # Columns with names are read by name, never by position: a misspelt one would
            # otherwise stand in for another.
            missing = [name for name in self.names if name not in X.columns]
            if missing:
                raise ValueError(f"X has no column {', '.join(map(repr, missing))}; the "
                                 f"equation reads {', '.join(self.names)} (X has "
                                 f"{_column_list(X.columns)})")
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

    def _key(self) -> tuple[Any, ...]:
        # Floats by their bits, so that NaN (a constant without a standard error) equals NaN.
        return tuple(v.hex() if isinstance(v, float) else v
                     for v in dataclasses.astuple(self))

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Equation):
            return NotImplemented
        return self._key() == other._key()

    def __hash__(self) -> int:
        return hash(self._key())

    def __repr__(self) -> str:
        return (f"Equation({self.formula!r}, size={self.size}, rmse={self.rmse:.6g}, "
                f"r2={self.r2:.6g})")

    def constants_text(self) -> str:
        """The fitted constants with their standard errors, as the tables show them.

        >>> eq = Equation.from_parts([("var", 0)], 0.99915, 0.0, ["x"])
        >>> from dataclasses import replace
        >>> replace(eq, scale_se=0.0011).constants_text()
        '0.99915 ± 0.0011'
        """
        # A constant equation's one number is its program's (its standard error the scale's).
        scale = float(self.program[0][1]) if len(self.program) == 1 and \
            self.program[0][0] == "const" else self.scale
        parts = [f"{value:.6g} ± {se:.2g}" for value, se in ((scale, self.scale_se),
                                                              (self.offset, self.offset_se))
                 if math.isfinite(se)]
        return ", ".join(parts)

    def to_state(self) -> EquationState:
        """The equation as a saved discovery keeps it."""
        state: EquationState = {
            "program": [list(t) for t in self.program], "scale": self.scale,
            "offset": self.offset, "size": self.size, "sse": self.sse, "rmse": self.rmse,
            "r2": self.r2, "scale_se": self.scale_se, "offset_se": self.offset_se,
            "covariance": self.covariance, "sigma": self.sigma, "dof": self.dof,
            "criterion": self.criterion}
        if self.term_sizes:
            state["terms"] = list(self.term_sizes)
        return state


def terms_size(tokens: int, term_sizes: Sequence[int], offset: float) -> int:
    """The size of a law of several terms: the terms' tokens, plus one for each coefficient
    written (a constant token and its product: two tokens of the program beyond the terms
    and their joins), plus one for an offset not 0. ValueError when the counts disagree.

    >>> terms_size(9, [3, 3], 0.25)   # 2.5 * (x * y) + z * w + 0.25
    8
    """
    written = tokens - sum(term_sizes) - (len(term_sizes) - 1)
    if len(term_sizes) < 2 or min(term_sizes) < 1 or written < 0 or written % 2 \
            or written // 2 > len(term_sizes):
        raise ValueError(f"a program of {tokens} tokens is not a sum of terms of sizes "
                         f"{list(term_sizes)}")
    return sum(term_sizes) + written // 2 + (offset != 0.0)
