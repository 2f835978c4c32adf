"""The records that pass between the engine and the package's modules, as typed dicts.

The engine hands its results over as dicts, and a saved run keeps them as they came; these
types name their keys once, so that a module reading one says which record it reads.
"""

from __future__ import annotations

from collections.abc import Callable, Sequence
from typing import Literal, NotRequired, TypedDict

__all__ = ["STOP_REASONS", "Candidate", "ClusterReport", "EngineResult", "ProgressCallback",
           "ProgressInfo", "SearchSettings", "SizeReport", "SplitPlan", "StopReason", "Token"]

# One token of a postfix program: ("const", float), ("var", index into the names), ("op", name).
Token = tuple[str, float | int | str]

StopReason = Literal["complete", "time", "evaluations", "memory", "interrupted"]
STOP_REASONS: tuple[StopReason, ...] = ("complete", "time", "evaluations", "memory", "interrupted")


class SearchSettings(TypedDict):
    """The engine's settings of a search, as discover() gives them and a saved run keeps them."""

    max_size: int
    time_limit: float
    max_evaluations: int
    unary: list[str]
    binary: list[str]
    constants: list[float]
    scaling: bool
    front_size: int
    memory_limit: int
    n_threads: int
    target_rmse: float
    max_rows: int
    terms: NotRequired[int]


class Candidate(TypedDict):
    """One member of the engine's front: a program with its fitted scale and offset."""

    size: int
    program: Sequence[Sequence[float | int | str]]
    sse: float
    rmse: float
    scale: float
    offset: float
    order: int


class SizeReport(TypedDict):
    """What the engine did at one size."""

    size: int
    complete: bool
    candidates: int
    no_value: int
    duplicates: int
    distinct: int
    scored: int
    valid: int
    seconds: float


class SplitPlan(TypedDict):
    """How to run the largest size of a split search in slices of its candidates."""

    state: bytes
    size: int
    slots: int
    segment: int


class ClusterReport(TypedDict):
    """What a search split across a cluster sent there."""

    slices: int
    workers: int
    state_bytes: int
    data_bytes: int


class EngineResult(TypedDict):
    """What ``_engine.enumerate`` returns ("stopped" may also be "target": an exact fit)."""

    front: list[Candidate]
    sizes: list[SizeReport]
    stopped: str
    evaluations: int
    elapsed: float
    split: NotRequired[SplitPlan]
    cluster: NotRequired[ClusterReport]


class ProgressInfo(TypedDict):
    """What a progress callback is given, about ten times a second."""

    size: int
    done: int
    expected: int
    best_rmse: float
    elapsed: float


ProgressCallback = Callable[[ProgressInfo], object]
