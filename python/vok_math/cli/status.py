"""How a ``vok-math`` run ends: its exit statuses, and the input errors reported in one line."""

from __future__ import annotations

__all__ = ["EXIT_FOUND", "EXIT_INTERRUPTED", "EXIT_NOTHING", "EXIT_USAGE", "InputError"]

EXIT_FOUND = 0
EXIT_NOTHING = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130


class InputError(Exception):
    """A problem with the user's input, reported as one line (``FILE:LINE: ...``), exit status 2."""


# Its users import it from vok_math.cli, the name tracebacks and pickles give it.
InputError.__module__ = "vok_math.cli"
