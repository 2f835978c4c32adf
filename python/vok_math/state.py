"""A discovery's saved state: its JSON file, and the checks a state read back goes through.

The state is what :meth:`vok_math.Discovery.save` writes and a pickle carries. Reading one
checks it field by field, so a bad file is a ValueError naming the file and the field.
"""

from __future__ import annotations

import contextlib
import json
from collections.abc import Iterator, Mapping
from typing import Any, Required, TypedDict

from vok_math.records import Candidate, SearchSettings, SizeReport

__all__ = ["FILE_FORMAT", "FILE_VERSION", "DiscoveryState", "EquationState", "StateReader",
           "dumps_state", "loads_state"]

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


def dumps_state(state: DiscoveryState) -> str:
    """JSON text of a discovery's state; floats are written by repr, which reads back exactly."""
    return json.dumps({"format": FILE_FORMAT, "version": FILE_VERSION, **state}, indent=1,
                      allow_nan=True)


def loads_state(text: str, source: str) -> dict[str, Any]:
    """The state dict of a saved discovery; ValueError naming ``source`` when it is not one."""
    try:
        data = json.loads(text)
    except json.JSONDecodeError as e:
        raise ValueError(f"{source}: not a vok_math discovery file (corrupt or truncated JSON: "
                         f"{e})") from None
    if not isinstance(data, dict) or data.get("format") != FILE_FORMAT:
        raise ValueError(f"{source}: not a vok_math discovery file (no format {FILE_FORMAT!r})")
    version = data.get("version")
    if type(version) is not int or version < 1:
        raise ValueError(f"{source}: bad format version {version!r}")
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

    def field(self, key: str, kind: type | tuple[type, ...],
              where: Mapping[str, Any] | None = None) -> Any:
        """``where[key]`` (``where`` defaults to the state), checked to be a ``kind``."""
        if where is None:
            where = self.state
        if key not in where:
            raise ValueError(f"{self.source}: missing field {key!r}")
        value = where[key]
        if kind is float and type(value) is int:
            value = float(value)
        if not isinstance(value, kind) or (isinstance(value, bool) and kind in (int, float)):
            raise ValueError(f"{self.source}: field {key!r} has a bad value {value!r}")
        return value

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
