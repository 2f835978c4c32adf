"""A discovery's saved state: its JSON file, and the checks a state read back goes through.

The state is what :meth:`vok_math.Discovery.save` writes and a pickle carries. Reading one
checks it field by field against the schemas below (types, and the values a search can
produce: no negative count, no negative or infinite error), so a bad file is a ValueError
naming the file and the field, and nothing impossible is ever loaded.
"""

from __future__ import annotations

import contextlib
import json
import math
import reprlib
from collections.abc import Iterator, Mapping
from dataclasses import dataclass
from typing import Any, Required, TypedDict

from vok_math.operators import BINARY, UNARY
from vok_math.records import Candidate, SearchSettings, SizeReport

__all__ = ["CANDIDATE_FIELDS", "Count", "EQUATION_FIELDS", "FILE_FORMAT", "FILE_VERSION",
           "DiscoveryState", "EquationState", "ListOf", "OneOf", "Program", "Real",
           "SETTINGS_FIELDS",
           "SIZE_FIELDS", "StateReader", "dumps_state", "loads_state", "shown"]

FILE_FORMAT = "vok_math.discovery"
FILE_VERSION = 1


class EquationState(TypedDict, total=False):
    """One equation of a saved front (files written before the uncertainties lack them)."""

    program: Required[list[list[float | int | str]]]
    scale: Required[float]
    offset: Required[float]
    size: Required[int]
    sse: Required[float]
    rmse: Required[float]
    r2: Required[float]
    scale_se: float
    offset_se: float
    covariance: float
    sigma: float
    dof: int
    criterion: float
    terms: list[int]


class DiscoveryState(TypedDict):
    """A saved discovery; the keys in the file's order."""

    names: list[str]
    n_samples: int
    dropped_rows: int
    noise_floor: float
    model_selection: str
    settings: SearchSettings
    stopped: str
    evaluations: int
    elapsed: float
    sizes: list[SizeReport]
    candidates: list[Candidate]
    equations: list[EquationState]
    best: int | None


# ---- what a field may hold ------------------------------------------------------------------

@dataclass(frozen=True)
class Count:
    """An int (not a bool) in [low, high]."""

    low: int = 0
    high: int = 2**63 - 1

    def accepts(self, value: object) -> bool:
        return type(value) is int and self.low <= value <= self.high

    def __str__(self) -> str:
        return f"an integer from {self.low} to {self.high}"


@dataclass(frozen=True)
class Real:
    """A float (an int is read as one) at least ``low``; finite unless ``finite`` is false,
    NaN only when ``nan`` is true."""

    low: float = -math.inf
    finite: bool = True
    nan: bool = False

    def accepts(self, value: object) -> bool:
        if type(value) is not float:
            return False
        if math.isnan(value):
            return self.nan
        return value >= self.low and (math.isfinite(value) or not self.finite)

    def __str__(self) -> str:
        text = "a finite number" if self.finite else "a number"
        if self.low > -math.inf:
            text += f" of at least {self.low:g}"
        return text + (" or NaN" if self.nan else "")


@dataclass(frozen=True)
class OneOf:
    """One of a few strings."""

    choices: tuple[str, ...]

    def accepts(self, value: object) -> bool:
        return type(value) is str and value in self.choices

    def __str__(self) -> str:
        return f"one of {', '.join(self.choices)}"


@dataclass(frozen=True)
class ListOf:
    """A list whose every item is an ``item``."""

    item: Count | Real | OneOf | type
    min_items: int = 0

    def accepts(self, value: object) -> bool:
        return type(value) is list and len(value) >= self.min_items and \
            all(_accepts(self.item, v) for v in value)

    def __str__(self) -> str:
        at_least = f" of at least {self.min_items} item{'s' * (self.min_items != 1)}" \
            if self.min_items else ""
        return f"a list{at_least}, each item {_kind_text(self.item)}"


@dataclass(frozen=True)
class Program:
    """A postfix program as a file holds it: [kind, value] pairs of short strings and numbers
    (what the pairs mean is checked when the equation is built)."""

    def accepts(self, value: object) -> bool:
        return type(value) is list and all(
            type(token) is list and len(token) == 2 and all(map(_token_part, token))
            for token in value)

    def __str__(self) -> str:
        return "a program of [kind, value] pairs"


def _token_part(item: object) -> bool:
    if type(item) is str:
        return len(item) <= 32
    return type(item) is float or (type(item) is int and abs(item) < 2**63)


Kind = Count | Real | OneOf | ListOf | Program | type | tuple[type, ...]


def _accepts(kind: Kind, value: object) -> bool:
    if isinstance(kind, (Count, Real, OneOf, ListOf, Program)):
        return kind.accepts(value)
    return isinstance(value, kind) and not (isinstance(value, bool) and kind in (int, float))


_TYPE_TEXT = {dict: "a JSON object", list: "a list", str: "a string", bool: "true or false",
              int: "an integer", float: "a number"}


def _kind_text(kind: Kind) -> str:
    if isinstance(kind, tuple):
        return " or ".join(_TYPE_TEXT.get(k, k.__name__) for k in kind)
    return _TYPE_TEXT.get(kind, kind.__name__) if isinstance(kind, type) else str(kind)


_SHOWN = reprlib.Repr()
_SHOWN.maxlevel, _SHOWN.maxstring, _SHOWN.maxlong, _SHOWN.maxother = 2, 40, 40, 40


def shown(value: object) -> str:
    """A value for a message: short, whatever a file holds (a 400-digit integer, a deep list)."""
    return _SHOWN.repr(value)

_COUNT = Count()
_ERROR = Real(0.0)  # an error of a fit: finite and not negative
_SPREAD = Real(0.0, finite=False, nan=True)  # a standard error: NaN when nothing was fitted

# The fields of each record, as a search writes them. Files written before the constants'
# uncertainties lack those: the optional fields of EquationState may be missing.
EQUATION_FIELDS: dict[str, Kind] = {
    # The sum of squares overflows for y near the largest doubles, where the rmse does not.
    "program": Program(), "scale": Real(), "offset": Real(), "size": Count(1),
    "sse": Real(0.0, finite=False),
    "rmse": _ERROR, "r2": Real(), "scale_se": _SPREAD, "offset_se": _SPREAD,
    "covariance": Real(finite=False, nan=True), "sigma": _SPREAD, "dof": _COUNT,
    "criterion": Real(finite=False, nan=True), "terms": ListOf(Count(1))}
SIZE_FIELDS: dict[str, Kind] = {
    "size": Count(1), "complete": bool, "candidates": _COUNT, "no_value": _COUNT,
    "duplicates": _COUNT, "distinct": _COUNT, "scored": _COUNT, "valid": _COUNT,
    "seconds": _ERROR}
CANDIDATE_FIELDS: dict[str, Kind] = {
    "size": Count(1), "program": Program(), "sse": _ERROR, "rmse": _ERROR, "scale": Real(),
    "offset": Real(), "order": _COUNT}
# Every setting may be missing from an older file; none may be unknown.
SETTINGS_FIELDS: dict[str, Kind] = {
    "max_size": Count(1, 30), "time_limit": _ERROR, "max_evaluations": Count(0, 2**64 - 1),
    "unary": ListOf(OneOf(UNARY)), "binary": ListOf(OneOf(BINARY)), "constants": ListOf(Real()),
    "scaling": bool, "front_size": Count(1), "memory_limit": Count(0, 2**64 - 1),
    "n_threads": Count(0, 2**64 - 1), "target_rmse": _ERROR, "max_rows": Count(0, 2**64 - 1),
    "terms": Count(1, 5)}


def dumps_state(state: DiscoveryState) -> str:
    """JSON text of a discovery's state; floats are written by repr, which reads back exactly."""
    return json.dumps({"format": FILE_FORMAT, "version": FILE_VERSION, **state}, indent=1,
                      allow_nan=True)


def loads_state(text: str, source: str) -> dict[str, Any]:
    """The state dict of a saved discovery; ValueError naming ``source`` when it is not one."""
    try:
        data = json.loads(text)
    except RecursionError:
        raise ValueError(f"{source}: not a vok_math discovery file (JSON nested too deeply)"
                         ) from None
    except ValueError as e:  # JSONDecodeError, or an integer too long to read
        raise ValueError(f"{source}: not a vok_math discovery file (corrupt or truncated JSON: "
                         f"{e})") from None
    if not isinstance(data, dict) or data.get("format") != FILE_FORMAT:
        raise ValueError(f"{source}: not a vok_math discovery file (no format {FILE_FORMAT!r})")
    version = data.get("version")
    if type(version) is not int or version < 1:
        raise ValueError(f"{source}: bad format version {shown(version)}")
    if version > FILE_VERSION:
        raise ValueError(f"{source}: written by a newer vok_math (file format version {version}; "
                         f"this version reads up to {FILE_VERSION}); upgrade vok_math to read it")
    del data["format"], data["version"]
    return data


class StateReader:
    """Reads the fields of a state from ``source``; every problem is a ValueError naming it."""

    def __init__(self, state: Mapping[str, Any], source: str) -> None:
        self.state = state
        self.source = source

    def field(self, key: str, kind: Kind, where: Mapping[str, Any] | None = None,
              label: str = "") -> Any:
        """``where[key]`` (``where`` defaults to the state), checked to be a ``kind``;
        ``label`` says where ``where`` is in the file, for the message."""
        if where is None:
            where = self.state
        if not isinstance(where, Mapping):
            raise ValueError(f"{self.source}: {label or 'the state'} is not a JSON object")
        if key not in where:
            raise ValueError(f"{self.source}: missing field {key!r}" + (f" in {label}" if label
                                                                        else ""))
        value = where[key]
        if (kind is float or isinstance(kind, Real)) and type(value) is int:
            with contextlib.suppress(OverflowError):  # refused below, as an int
                value = float(value)
        if not _accepts(kind, value):
            notes = [f"in {label}; " if label else "", f"expected {_kind_text(kind)}"]
            raise ValueError(f"{self.source}: field {key!r} has a bad value {shown(value)} "
                             f"({''.join(notes)})")
        return value

    def record(self, where: object, fields: Mapping[str, Kind], label: str,
               optional: tuple[str, ...] = (), closed: bool = False) -> dict[str, Any]:
        """The fields of one record, each checked; ``optional`` ones may be missing, and a
        ``closed`` record has no other keys."""
        if not isinstance(where, Mapping):
            raise ValueError(f"{self.source}: {label} is not a JSON object")
        if closed:
            unknown = [k for k in where if k not in fields]
            if unknown:
                raise ValueError(f"{self.source}: unknown field {shown(unknown[0])} in "
                                 f"{label}")
        return {key: self.field(key, kind, where, label) for key, kind in fields.items()
                if key in where or key not in optional}

    def records(self, key: str, fields: Mapping[str, Kind], optional: tuple[str, ...] = ()
                ) -> list[dict[str, Any]]:
        """The list ``key`` of the state, each item a record of ``fields``."""
        return [self.record(item, fields, f"{key}[{i}]", optional)
                for i, item in enumerate(self.field(key, list))]

    @contextlib.contextmanager
    def errors(self) -> Iterator[None]:
        """Any error inside becomes a ValueError that starts with the source's name."""
        try:
            yield
        except (TypeError, KeyError, AttributeError) as e:
            raise ValueError(f"{self.source}: not a valid discovery ({e})") from None
        except ValueError as e:
            if str(e).startswith(self.source):
                raise
            raise ValueError(f"{self.source}: {e}") from None
