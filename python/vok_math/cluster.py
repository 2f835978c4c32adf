"""Reaching a Dask cluster: dask.distributed is an optional extra, imported when a client is given."""

from __future__ import annotations

from types import ModuleType
from typing import Any

__all__ = ["RETRIES", "checked_client", "distributed_module"]

# Retries of a task whose run raised (a lost worker's tasks are rescheduled by Dask anyway).
RETRIES = 2


def distributed_module() -> ModuleType:
    """The ``distributed`` module, or an ImportError that says how to get it."""
    try:
        import distributed
    except ImportError:
        raise ImportError("running on a Dask cluster needs dask.distributed: "
                          "pip install 'vok_math[dask]'") from None
    return distributed


def checked_client(client: object) -> Any:
    """The client, typed Any: distributed's methods carry no annotations."""
    if not isinstance(client, distributed_module().Client):
        raise TypeError(f"client must be a dask.distributed.Client, not {type(client).__name__}")
    return client
