"""``vok-math batch``: one search per CSV file, here or on a Dask cluster, and a summary table.

Each run is written as JSON beside its file (or in ``--output-dir``); the table lists the
chosen formula of every file, or why it has none.
"""

from __future__ import annotations

import argparse
import csv
import glob
import os
import sys
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, TextIO

from vok_math.cli.options import add_run_options, add_search_options, search_options
from vok_math.cli.report import chosen
from vok_math.cli.scheduler import connect
from vok_math.cli.status import EXIT_FOUND, EXIT_INTERRUPTED, EXIT_NOTHING, InputError
from vok_math.cli.table import formula_names, read_table, split_columns
from vok_math.discovery import Discovery
from vok_math.distributed import iter_many

__all__ = ["BATCH_EXAMPLES", "add_parser", "cmd_batch", "find_files"]

BATCH_EXAMPLES = """\
examples:
  vok-math batch runs/                        every *.csv file in runs/, one after another
  vok-math batch 'data/**/*.csv' --max-size 8 --summary summary.csv
  vok-math batch runs/ --scheduler tcp://10.0.0.5:8786 -o results/

Each DATA.csv gives DATA.json (beside it, or in --output-dir; DATA.csv.json when another file
differs only in its suffix). exit status: 0 every file gave a formula and its run was written,
1 some did not (the table says why), 2 usage error, 130 interrupted"""


def add_parser(commands: Any) -> None:
    """Adds ``batch`` to the subcommands; it takes the search options of ``discover``."""
    batch = commands.add_parser(
        "batch", help="search many CSV files, here or on a Dask cluster",
        formatter_class=argparse.RawDescriptionHelpFormatter, epilog=BATCH_EXAMPLES,
        description="Search every CSV file of a directory (or matching a glob pattern) for "
                    "formulas of its target column; write each run as JSON and print a table "
                    "of the chosen formulas.")
    batch.add_argument("data", metavar="DIR_OR_GLOB",
                       help="a directory (its *.csv files) or a pattern such as 'data/**/*.csv'")
    add_search_options(batch)
    add_run_options(batch)
    batch.add_argument("-o", "--output-dir", metavar="DIR", type=Path,
                       help="write the JSON files here (default: beside each CSV file)")
    batch.add_argument("--summary", metavar="OUT.csv", type=Path,
                       help="also write the table as CSV")
    batch.set_defaults(run=cmd_batch)


@dataclass
class _Row:
    """One file's line of the summary."""

    file: str
    json: Path | None = None
    rows: int = 0
    discovery: Discovery | None = None
    error: str = ""

    @property
    def interrupted(self) -> bool:
        """Ctrl-C stopped this file's search: its front is what was found until then."""
        return self.discovery is not None and self.discovery.stopped == "interrupted"

    @property
    def finished(self) -> bool:
        """The file gave a formula, its run is written, and its search ran to its end."""
        return not self.error and not self.interrupted and self.json is not None and \
            self.discovery is not None and chosen(self.discovery) is not None

    def cells(self) -> dict[str, Any]:
        best = chosen(self.discovery) if self.discovery else None
        error = self.error or ("" if best else "no formula could be evaluated")
        if not error and self.interrupted:
            error = "interrupted: the front found until then"
        return {"file": self.file, "json": "" if self.json is None else str(self.json),
                "rows": self.rows or "", "size": best.size if best else "",
                "rmse": best.rmse if best else "", "r2": best.r2 if best else "",
                "formula": best.formula if best else "", "error": error}


def find_files(pattern: str) -> list[Path]:
    """The CSV files of a directory, or the files matching a glob pattern, sorted."""
    if os.path.isdir(pattern):
        paths = sorted(Path(pattern).glob("*.csv"))
    else:
        paths = sorted(Path(p) for p in glob.glob(pattern, recursive=True) if os.path.isfile(p))
    if not paths:
        where = "no *.csv file in" if os.path.isdir(pattern) else "no file matches"
        raise InputError(f"{where} {pattern}")
    return paths


def _json_paths(paths: Sequence[Path], output_dir: Path | None) -> list[Path]:
    """Where each file's run is written: DATA.json, or DATA.csv.json for files whose names
    differ only in their suffix (one.csv and one.tsv), so that no run overwrites another."""
    if output_dir is not None and not output_dir.is_dir():
        raise InputError(f"--output-dir {output_dir}: no such directory")

    def folder(p: Path) -> Path:
        return p.parent if output_dir is None else output_dir

    plain = [folder(p) / (p.stem + ".json") for p in paths]
    shared = {t for t in plain if plain.count(t) > 1}
    out = [folder(p) / (p.name + ".json") if t in shared else t
           for p, t in zip(paths, plain, strict=True)]
    seen: dict[Path, Path] = {}
    for source, target in zip(paths, out, strict=True):
        if target in seen:
            where = f"--output-dir {output_dir}: " if output_dir is not None else ""
            raise InputError(f"{where}{seen[target]} and {source} would both write {target.name}")
        seen[target] = source
    renamed = [f"{p} -> {t}" for p, t, t0 in zip(paths, out, plain, strict=True) if t != t0]
    if renamed:
        print(f"vok-math: note: files that differ only in their suffix keep it in their run's "
              f"name: {', '.join(renamed)}", file=sys.stderr)
    return out


def _print_table(rows: Sequence[_Row], target_of: dict[str, str], out: TextIO) -> None:
    cells = [r.cells() for r in rows]
    width = max(len("file"), *(len(c["file"]) for c in cells))
    print(f"{'file':<{width}}  {'rows':>6}  {'size':>4}  {'rmse':>9}  {'r2':>9}  formula",
          file=out)
    for row, c in zip(rows, cells, strict=True):
        if c["formula"] and not row.error:
            text = f"{target_of.get(c['file'], 'y')} = {c['formula']}"
            if row.interrupted:
                text += f"  ({c['error']})"
            print(f"{c['file']:<{width}}  {c['rows']:>6}  {c['size']:>4}  {c['rmse']:9.3e}  "
                  f"{c['r2']:9.6f}  {text}", file=out)
        else:
            print(f"{c['file']:<{width}}  {c['rows']:>6}  {'':>4}  {'':>9}  {'':>9}  "
                  f"error: {c['error']}", file=out)
    found = sum(1 for r in rows if r.finished)
    stopped = sum(1 for r in rows if r.interrupted)
    print(f"\n{found} of {len(cells)} file{'s' if len(cells) != 1 else ''} gave a formula"
          + (f", {stopped} interrupted" if stopped else ""), file=out)


def _write_summary(path: Path, rows: Sequence[_Row]) -> None:
    fields = ["file", "json", "rows", "size", "rmse", "r2", "formula", "error"]
    try:
        with open(path, "w", newline="", encoding="utf-8") as f:
            writer = csv.DictWriter(f, fieldnames=fields, lineterminator="\n")
            writer.writeheader()
            writer.writerows(r.cells() for r in rows)
    except OSError as exc:
        raise InputError(f"{path}: cannot write: {exc.strerror}") from None


def _read_problems(paths: Sequence[Path], rows: list[_Row], args: argparse.Namespace
                   ) -> tuple[list[dict[str, Any]], list[int], dict[str, str]]:
    """The problems of the files that read, the row of each, and each file's target."""
    problems, slots, target_of = [], [], {}
    for i, path in enumerate(paths):
        # A file that cannot be read is that file's error; the others still run.
        try:
            table = read_table(str(path))
            X, y, columns, target = split_columns(table, args.target, args.features, args.weights)
        except InputError as exc:
            rows[i].error = str(exc)
            continue
        rows[i].rows = len(y)
        target_of[rows[i].file] = target
        problem = {"X": X, "y": y, "names": formula_names(columns)}
        if args.weights:
            problem["sample_weight"] = table.column(args.weights)
        problems.append(problem)
        slots.append(i)
    return problems, slots, target_of


def cmd_batch(args: argparse.Namespace, out: TextIO) -> int:
    """``vok-math batch``: one search per file; returns the exit status."""
    if args.summary is not None and args.summary.suffix.lower() != ".csv":
        raise InputError(f"--summary {args.summary}: the file name must end in .csv")
    paths = find_files(args.data)
    jsons = _json_paths(paths, args.output_dir)
    rows = [_Row(str(p)) for p in paths]
    problems, slots, target_of = _read_problems(paths, rows, args)
    where = f"on {args.scheduler}" if args.scheduler else "here"
    print(f"Searching {len(problems)} of {len(paths)} file{'s' if len(paths) != 1 else ''} "
          f"{where}", file=out, flush=True)
    status = EXIT_FOUND
    with connect(args.scheduler) as client:
        try:
            for k, result in iter_many(problems, client=client, **search_options(args)):
                row = rows[slots[k]]
                if isinstance(result, Exception):
                    row.error = str(result)
                    continue
                row.discovery = result
                try:
                    result.save(jsons[slots[k]])
                except OSError as exc:
                    row.error = f"{jsons[slots[k]]}: cannot write: {exc.strerror}"
                    continue
                row.json = jsons[slots[k]]
        except KeyboardInterrupt:
            print("vok-math: interrupted: the table below holds the files finished so far",
                  file=sys.stderr)
            status = EXIT_INTERRUPTED
            for row in rows:
                if row.discovery is None and not row.error:
                    row.error = "not finished (interrupted)"
    _print_table(rows, target_of, out)
    if args.summary is not None:
        _write_summary(args.summary, rows)
        print(f"summary: {args.summary}", file=out)
    if status == EXIT_FOUND and not all(r.finished for r in rows):
        status = EXIT_NOTHING
    return status
