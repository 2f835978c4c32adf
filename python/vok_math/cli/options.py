"""The search options that ``discover`` and ``batch`` share, and the types of their values."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from vok_math.cli.scheduler import add_scheduler_option
from vok_math.export import number_text
from vok_math.model_choice import MODEL_SELECTIONS
from vok_math.operators import NAMES
from vok_math.settings import DEFAULT_CONSTANTS, DEFAULT_MODEL_SELECTION

__all__ = ["add_run_options", "add_search_options", "names", "numbers", "positive",
           "search_options"]


def names(text: str) -> list[str]:
    """A comma-separated list of names."""
    return [part.strip() for part in text.split(",") if part.strip()]


def numbers(text: str) -> list[float]:
    """A comma-separated list of numbers."""
    try:
        return [float(part) for part in names(text)]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a list of numbers: {text!r}") from None


def positive(kind: type[int] | type[float]) -> Any:
    """The argument type of a positive int or float."""
    def parse(text: str) -> int | float:
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
        if not value > 0:
            raise argparse.ArgumentTypeError(f"must be positive: {text!r}")
        return value
    parse.__name__ = kind.__name__
    return parse


def add_search_options(parser: argparse.ArgumentParser) -> None:
    """The options of the search itself: the columns, the budgets, what formulas are built of."""
    parser.add_argument("--target", metavar="NAME",
                        help="the column to explain (default: the last)")
    parser.add_argument("--features", metavar="A,B,...", type=names,
                        help="the columns to use as variables (default: all but the target)")
    parser.add_argument("--time-limit", metavar="S", type=positive(float),
                        help="stop after S seconds with the front found so far")
    parser.add_argument("--max-size", metavar="N", type=positive(int),
                        help="largest formula size in tokens (variables, constants, operators)")
    parser.add_argument("--max-evaluations", metavar="N", type=positive(int),
                        help="stop after scoring N candidates (the same result on any machine)")
    parser.add_argument("--operators", metavar="OP,...", type=names,
                        help=f"operators to build with, e.g. add,sub,mul,div,sqrt "
                             f"({' '.join(NAMES)})")
    parser.add_argument("--constants", metavar="C,...", type=numbers,
                        help=f"constant leaves (default: "
                             f"{','.join(number_text(c) for c in DEFAULT_CONSTANTS)})")
    parser.add_argument("--no-scaling", action="store_true",
                        help="fit the formula as is, without the fitted a*f + b")
    parser.add_argument("--threads", metavar="N", type=positive(int), help="worker threads")
    parser.add_argument("--weights", metavar="COLUMN",
                        help="a column of the rows' weights (such as 1/sigma^2 of their "
                             "measurement errors): weighted least squares")
    parser.add_argument("--terms", metavar="N", type=positive(int),
                        help="laws of up to N terms, c0 + c1*f1 + ... (default: up to 3, a sum "
                             "only when it fits exactly; 1: one expression)")
    parser.add_argument("--model-selection", choices=MODEL_SELECTIONS,
                        help=f"how the chosen formula is picked when none is exact "
                             f"(default: {DEFAULT_MODEL_SELECTION})")


def add_run_options(parser: argparse.ArgumentParser) -> None:
    """The options of where a search runs and what it shows meanwhile."""
    parser.add_argument("--no-progress", action="store_true",
                        help="no progress bar (it is shown only on a terminal)")
    add_scheduler_option(parser)


def search_options(args: argparse.Namespace) -> dict[str, Any]:
    """The keyword arguments of :func:`vok_math.discover` that the command line set."""
    options: dict[str, Any] = {
        "max_size": args.max_size, "time_limit": args.time_limit,
        "max_evaluations": args.max_evaluations, "operators": args.operators,
        "constants": args.constants, "n_threads": args.threads,
        "scaling": False if args.no_scaling else None,
        "model_selection": args.model_selection, "terms": args.terms,
        "progress": not args.no_progress and sys.stderr.isatty(),
    }
    return {key: value for key, value in options.items() if value is not None}
