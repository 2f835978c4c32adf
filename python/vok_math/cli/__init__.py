"""The ``vok-math`` command line: find formulas in a CSV file, show a saved run, predict with it.

Every problem with the user's input is one line on stderr and exit status 2, never a traceback.
Exit statuses: 0 a formula was found, 1 nothing could be evaluated, 2 usage or input error,
130 interrupted (after printing the front found so far).

The parser and :func:`main` are here; each subcommand is a module of this package
(:mod:`~vok_math.cli.search` for ``discover``, :mod:`~vok_math.cli.runs` for ``show`` and
``predict``, :mod:`~vok_math.cli.batch`), and :mod:`~vok_math.cli.table` reads the CSV files.
"""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Sequence

from vok_math import __version__
from vok_math.cli import batch, runs, search
from vok_math.cli.options import search_options
from vok_math.cli.search import run_demo, run_discover
from vok_math.cli.status import EXIT_FOUND, EXIT_INTERRUPTED, EXIT_NOTHING, EXIT_USAGE, InputError
from vok_math.cli.table import Table, formula_names, parse_table, read_table, split_columns

__all__ = ["EXAMPLES", "EXIT_FOUND", "EXIT_INTERRUPTED", "EXIT_NOTHING", "EXIT_USAGE",
           "InputError", "Table", "build_parser", "formula_names", "main", "parse_table",
           "read_table", "run_demo", "run_discover", "search_options", "split_columns"]

EXAMPLES = """\
examples:
  vok-math                                   run the shipped samples (P = V**2/R)
  vok-math discover data.csv                 the last column is the target
  vok-math discover data.csv --target P --features V,R --time-limit 30
  vok-math discover data.csv --json run.json --plot fit.png
  cat data.csv | vok-math discover -         read the data from stdin
  vok-math show run.json                     the front of a saved run
  vok-math predict run.json new.csv -o predicted.csv

CSV files: a header line of column names (detected when absent), columns separated by commas,
semicolons or tabs, '#' starts a comment line. Every cell must be a finite number.
exit status: 0 found, 1 nothing could be evaluated, 2 usage or input error, 130 interrupted"""


def build_parser() -> argparse.ArgumentParser:
    """The argument parser of ``vok-math`` and its subcommands."""
    parser = argparse.ArgumentParser(
        prog="vok-math", formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Find closed-form formulas that fit data: the Pareto front of accuracy "
                    "against size.\nWithout a subcommand, runs the samples shipped with the "
                    "package.",
        epilog=EXAMPLES)
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    search.add_parser(commands, EXAMPLES)
    runs.add_parsers(commands)
    batch.add_parser(commands)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Runs ``vok-math`` with `argv` (default: the process's arguments); returns the exit status."""
    parser = build_parser()
    args = parser.parse_args(argv)
    out = sys.stdout
    try:
        if args.command is None:
            return run_demo(out)
        status: int = args.run(args, out)
        return status
    except InputError as exc:
        print(exc, file=sys.stderr)
        return EXIT_USAGE
    except KeyboardInterrupt:
        print("vok-math: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader went away (| head): say nothing more, keep Python quiet at exit, and end
        # the way a program killed by SIGPIPE does.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 128 + 13
