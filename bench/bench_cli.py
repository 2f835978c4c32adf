"""Command-line pieces the benchmarks share: the laws and noise levels asked for, the modules
they need, and the results file a run resumes from."""

from __future__ import annotations

import argparse
import json
import math
import os
from collections.abc import Sequence
from dataclasses import asdict
from typing import Any, Protocol, TypeVar

from bench_scoring import Result


class _Named(Protocol):
    @property
    def name(self) -> str: ...


LawT = TypeVar("LawT", bound=_Named)


def load_results(path: str | None) -> list[Result]:
    """The results a previous run with --json left, to resume from."""
    if not path or not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [Result(**r) for r in json.load(f)]


def save_results(path: str | None, results: Sequence[Result]) -> None:
    """Every result so far, rewritten after each one so that an interrupted run can resume."""
    if path:
        with open(path, "w", encoding="utf-8") as out:
            json.dump([asdict(x) for x in results], out, indent=1, default=str)


def select_laws(ap: argparse.ArgumentParser, names: str | None, quick: bool,
                laws: Sequence[LawT], quick_names: Sequence[str]) -> list[LawT]:
    """The laws named on the command line (comma-separated), the quick subset, or all."""
    chosen = names.split(",") if names else (list(quick_names) if quick else None)
    if not chosen:
        return list(laws)
    known = {law.name: law for law in laws}
    unknown = [n for n in chosen if n not in known]
    if unknown:
        ap.error(f"unknown laws: {', '.join(unknown)}; known: {', '.join(known)}")
    return [known[n] for n in chosen]


def noise_levels(ap: argparse.ArgumentParser, text: str,
                 named: dict[str, Sequence[float]] | None = None) -> list[float]:
    """--noise: a named set or comma-separated levels (fractions of rms(y)), each once."""
    try:
        levels = list((named or {}).get(text) or dict.fromkeys(float(v) for v in text.split(",")))
    except ValueError:
        ap.error(f"--noise: {text!r} is neither {', '.join(named or ())} nor a list of levels"
                 if named else f"--noise: {text!r} is not a list of levels")
    if any(not 0 <= v < 10 for v in levels):
        ap.error("--noise: levels are fractions of rms(y), from 0")
    return levels


def require_sympy_scipy(what: str) -> None:
    for module in ("sympy", "scipy"):
        try:
            __import__(module)
        except ImportError:
            raise SystemExit(f"{what} needs sympy and scipy: pip install sympy scipy") from None


def add_discover_options(ap: argparse.ArgumentParser) -> None:
    """--model-selection, --operators and --constants, passed to discover (see discover_options)."""
    ap.add_argument("--model-selection", choices=("mdl", "bic", "knee"),
                    help="how discover chooses its best equation (default: its own default)")
    ap.add_argument("--operators", metavar="OP,...",
                    help="discover's operators (default: its own); with a leading +, added to "
                         "its defaults (+square,cube)")
    ap.add_argument("--constants", metavar="C,...",
                    help="discover's constant leaves (default: its own); numbers or pi, 2pi")


def discover_options(args: argparse.Namespace) -> dict[str, Any]:
    """discover's keyword arguments from --model-selection, --operators and --constants (absent:
    its own)."""
    options: dict[str, Any] = {}
    if args.model_selection is not None:
        options["model_selection"] = args.model_selection
    if args.operators:
        from vok_math.discovery import DEFAULT_OPERATORS
        extra = args.operators.startswith("+")
        names = [n for n in args.operators.lstrip("+").split(",") if n]
        options["operators"] = [*DEFAULT_OPERATORS, *names] if extra else names
    if args.constants:
        named = {"pi": math.pi, "2pi": 2 * math.pi}
        options["constants"] = [named.get(c) or float(c) for c in args.constants.split(",") if c]
    return options
