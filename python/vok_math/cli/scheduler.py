"""``--scheduler ADDRESS``: a search command run on a Dask cluster.

``vok-math discover DATA.csv --scheduler tcp://host:8786`` splits the search's largest size
across the cluster's workers; ``vok-math batch`` runs one file per task there.
"""

from __future__ import annotations

import argparse
import contextlib
from collections.abc import Iterator
from typing import TYPE_CHECKING

from vok_math.cli.status import InputError

if TYPE_CHECKING:
    from distributed import Client

__all__ = ["CONNECT_TIMEOUT", "add_scheduler_option", "connect"]

# Seconds to wait for a scheduler before giving up on it.
CONNECT_TIMEOUT = 10


def add_scheduler_option(parser: argparse.ArgumentParser) -> None:
    """Adds ``--scheduler ADDRESS`` (a running Dask scheduler) to a search command."""
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="run on this Dask scheduler (e.g. tcp://host:8786; needs "
                             "vok_math[dask]): discover splits its largest size across the "
                             "workers, batch runs one file per task")


@contextlib.contextmanager
def connect(address: str | None) -> Iterator[Client | None]:
    """A client of the scheduler at ``address`` (None: no client), closed on leaving.

    Problems (dask missing, nobody listening) are the usage errors of :mod:`vok_math.cli`.
    """
    if address is None:
        yield None
        return
    try:
        from distributed import Client
    except ImportError:
        raise InputError("--scheduler needs dask.distributed: pip install 'vok_math[dask]'") \
            from None
    try:
        client = Client(address, timeout=CONNECT_TIMEOUT)  # type: ignore[no-untyped-call]
    except (OSError, ValueError, TypeError) as exc:  # TimeoutError is an OSError
        raise InputError(f"--scheduler {address}: cannot connect: {exc}") from None
    with client:
        yield client
