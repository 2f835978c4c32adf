"""Progress on stderr: a tqdm bar per size of a search, or one over many searches."""

from __future__ import annotations

import sys
from typing import Any

from vok_math.records import ProgressCallback, ProgressInfo

__all__ = ["CallbackStopped", "KeptCallback", "ProgressArg", "ProgressBar", "problems_bar",
           "resolve", "search_progress"]

# discover()'s progress argument: a bar or not (None: when stderr is a terminal), or a callback.
ProgressArg = bool | ProgressCallback | None


def _tqdm() -> Any:
    try:
        from tqdm.auto import tqdm
    except ImportError:
        raise ImportError("progress bars need tqdm: pip install tqdm") from None
    return tqdm


def resolve(progress: ProgressArg) -> bool | ProgressCallback:
    """``progress`` with None decided: a bar when stderr is a terminal."""
    if progress is None:
        return sys.stderr is not None and sys.stderr.isatty()
    return progress


class ProgressBar:
    """A tqdm bar per size: candidates of the size, best error so far, time budget left.
    It appears only once a search has run for half a second."""

    _DELAY = 0.5

    def __init__(self, time_limit: float) -> None:
        self._tqdm = _tqdm()
        self._time_limit = time_limit
        self._size = 0
        self._bar: Any = None

    def __call__(self, info: ProgressInfo) -> None:
        if self._bar is None:
            if info["elapsed"] < self._DELAY:
                return
            self._size = info["size"]
            self._bar = self._tqdm(total=max(int(info["expected"]), 1), desc=f"size {self._size}",
                                   unit="cand", unit_scale=True, leave=False, dynamic_ncols=True)
        bar = self._bar
        if info["size"] != self._size:
            self._size = info["size"]
            bar.set_description(f"size {self._size}", refresh=False)
            bar.reset(total=max(int(info["expected"]), 1))
        bar.n = int(info["done"])
        post = f"best rmse {info['best_rmse']:.3g}"
        if self._time_limit:
            post += f", {max(self._time_limit - info['elapsed'], 0.0):.0f} s left"
        bar.set_postfix_str(post, refresh=False)
        bar.refresh()

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()


class CallbackStopped(KeyboardInterrupt):
    """Stops a search whose progress callback raised. The engine ends a search on a
    KeyboardInterrupt with the front found so far; this one is told apart from Ctrl-C."""


class KeptCallback:
    """A progress callback whose exception is kept (``error``) while the search is stopped
    the way Ctrl-C stops it, so that the front found so far is not lost with it."""

    def __init__(self, callback: ProgressCallback) -> None:
        self._callback = callback
        self.error: Exception | None = None

    def __call__(self, info: ProgressInfo) -> object:
        try:
            return self._callback(info)
        except Exception as error:
            self.error = error
            raise CallbackStopped from error


def search_progress(progress: ProgressArg, time_limit: float
                    ) -> tuple[ProgressCallback | None, ProgressBar | None]:
    """The callback a search reports to, and the bar to close after it (if it is one)."""
    chosen = resolve(progress)
    bar = ProgressBar(time_limit) if chosen is True else None
    return (bar if bar is not None else (chosen if callable(chosen) else None)), bar


def problems_bar(total: int, done: int) -> Any:
    """A tqdm bar of the problems finished, ``done`` of ``total`` already."""
    return _tqdm()(total=total, initial=done, unit="problem", leave=False, dynamic_ncols=True)
