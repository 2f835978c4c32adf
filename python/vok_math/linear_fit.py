"""Weighted least squares of a scale and an offset on a candidate's values: the moments of
its design, the uncertainty of each fitted constant, and the error of other constants.

Sums are taken with :func:`math.fsum` (correctly rounded, so the same on every machine) over
values brought near 1 by a power of two, so squares neither overflow nor underflow whatever
the magnitude of the data; the power of two is taken back exactly at the end.
"""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[np.float64]


def ldexp(x: float, k: int) -> float:
    """x·2^k, ±inf past the largest double and 0 below the smallest (never an exception).

    >>> ldexp(1.5, 2), ldexp(1.0, 5000), ldexp(-1.0, 5000), ldexp(1.0, -5000)
    (6.0, inf, -inf, 0.0)
    """
    try:
        return math.ldexp(x, k)  # correctly rounded, as C's ldexp: subnormals included
    except OverflowError:
        return math.copysign(math.inf, x)


def exponent(values: Array) -> int:
    """The power of two that brings the largest finite |value| near 1 (0 for none)."""
    with np.errstate(invalid="ignore"):
        finite = np.abs(values[np.isfinite(values)])
    top = float(finite.max()) if finite.size else 0.0
    return math.frexp(top)[1] if top > 0 else 0


def fsum(values: Array) -> float:
    return math.fsum(values.tolist())


def weighted_sse(residuals: Array, weights: Array | None = None) -> float:
    """Σ w·r², correctly rounded, without overflow in its terms.

    inf only when the sum itself exceeds the largest double; NaN when a residual is NaN.

    >>> weighted_sse(np.array([3.0, 4.0])), weighted_sse(np.array([3e100, 4e100]))
    (25.0, 2.5e+201)
    >>> weighted_sse(np.array([3e200, 4e200]))
    inf
    """
    k = exponent(residuals)
    return ldexp(_scaled_sse(residuals, weights, k), 2 * k)


def weighted_rms(residuals: Array, weights: Array | None = None) -> float:
    """sqrt(Σ w·r² / Σ w), finite wherever the residuals are.

    >>> weighted_rms(np.array([1e300, -1e300]))
    1e+300
    """
    total = float(len(residuals)) if weights is None else fsum(weights)
    if not total > 0:
        return math.nan
    k = exponent(residuals)
    return ldexp(math.sqrt(_scaled_sse(residuals, weights, k) / total), k)


def _scaled_sse(residuals: Array, weights: Array | None, k: int) -> float:
    with np.errstate(all="ignore"):
        scaled = np.ldexp(residuals, -k)
        terms = scaled * scaled if weights is None else weights * (scaled * scaled)
    return math.nan if np.isnan(terms).any() else fsum(terms)


@dataclass(frozen=True)
class Moments:
    """The weighted moments of a candidate's values f that every fit of scale * f + offset
    needs, with f taken as f·2^-shift: Σw, the weighted mean and the centred Σw(f - mean)²."""

    rows: int       # rows with a positive weight
    total: float    # Σw
    mean: float
    centred: float
    shift: int

    @property
    def second(self) -> float:
        """Σw·f² (in the shifted units)."""
        return self.centred + self.total * self.mean * self.mean


def moments(f: Array, weights: Array | None = None) -> Moments:
    w = np.ones_like(f) if weights is None else weights
    shift = exponent(f)
    fs = np.ldexp(f, -shift)
    total = fsum(w)
    mean = fsum(w * fs) / total if total > 0 else 0.0
    return Moments(int(np.count_nonzero(w > 0)), total, mean, fsum(w * (fs - mean) ** 2), shift)


@dataclass(frozen=True)
class Uncertainty:
    """Standard errors of the fitted constants (NaN for one held, or without a degree of
    freedom left), their covariance, and the residual σ with its degrees of freedom."""

    scale_se: float
    offset_se: float
    covariance: float
    sigma: float
    dof: int


def uncertainty(m: Moments, sse: float, fit_scale: bool, fit_offset: bool) -> Uncertainty:
    """σ²·(AᵀWA)⁻¹ of the design [f, 1] for the fitted constants, σ² = SSE / dof.

    >>> x = np.arange(5.0)
    >>> u = uncertainty(moments(x), 0.036, True, True)
    >>> round(u.scale_se, 6), round(u.offset_se, 6), round(u.covariance, 6), u.dof
    (0.034641, 0.084853, -0.0024, 3)
    """
    dof = m.rows - int(fit_scale) - int(fit_offset)
    nan = math.nan
    if dof <= 0 or not math.isfinite(sse):
        return Uncertainty(nan, nan, nan, nan, max(dof, 0))
    sigma = math.sqrt(sse / dof)
    scale_se = offset_se = covariance = nan
    if fit_scale and fit_offset:
        if m.centred > 0:
            scale_se = ldexp(sigma / math.sqrt(m.centred), -m.shift)
            offset_se = sigma * math.sqrt(1 / m.total + m.mean * m.mean / m.centred)
            covariance = ldexp(-sigma * sigma * m.mean / m.centred, -m.shift)
    elif fit_scale:
        if m.second > 0:
            scale_se = ldexp(sigma / math.sqrt(m.second), -m.shift)
    elif fit_offset:
        offset_se = sigma / math.sqrt(m.total)
    return Uncertainty(scale_se, offset_se, covariance, sigma, dof)


def moved(m: Moments, d_scale: float, d_offset: float) -> float:
    """How much the SSE grows when the least-squares constants move by (d_scale, d_offset):
    the quadratic form of the design, exact in real arithmetic and free of cancellation."""
    ds = ldexp(d_scale, m.shift)
    along = m.mean * ds + d_offset
    return m.centred * ds * ds + m.total * along * along  # products: inf, never OverflowError


def refit_offset(m: Moments, d_scale: float) -> float:
    """The change of the best offset when the scale is held d_scale from its estimate."""
    return -m.mean * ldexp(d_scale, m.shift)


def refit_scale(m: Moments, d_offset: float) -> float:
    """The change of the best scale when the offset is held d_offset from its estimate."""
    second = m.second
    return ldexp(-m.total * m.mean * d_offset / second, -m.shift) if second > 0 else 0.0

