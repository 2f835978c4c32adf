"""The package version, for ``vok-math --version`` and ``vok_math.__version__``."""

# The same as pyproject.toml's (a test checks): the staged package runs without install metadata.
__version__ = "0.1.0"
