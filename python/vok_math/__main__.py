"""``python -m vok_math``: the same as the ``vok-math`` command."""

from vok_math.cli import main

if __name__ == "__main__":
    raise SystemExit(main())
