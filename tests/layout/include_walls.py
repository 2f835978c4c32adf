"""Fails when a source file includes across the walls between the engine folders.

Each folder of src/ may include only its own headers and those of the folders below it:
the beam search and the enumeration never see each other, no engine sees Python, and the
value classes' maths needs nothing but core.
"""

import re
import sys
from pathlib import Path

# folder -> the folders its files may include (besides its own).
ALLOWED = {
    "core": set(),
    "runtime": {"core"},
    "beam": {"core", "runtime"},
    "enumeration": {"core", "runtime"},
    "terms": {"core", "runtime"},
    "values": {"core"},
    "python": set(),
    "python/vok_core": {"python", "core", "beam", "values"},
    "python/engine_module": {"python", "core", "runtime", "enumeration", "terms"},
}
# A value class's Python type is part of the vok_core extension.
TYPE_FILE_ALLOWED = {"python", "python/vok_core", "core", "values"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def room(path: str) -> str:
    """The wall a path of src/ stands behind: the longest folder of ALLOWED it is in."""
    parts = path.split("/")
    for depth in (2, 1):
        name = "/".join(parts[:depth])
        if name in ALLOWED and len(parts) > depth:
            return name
    return parts[0]


def crossings(src: Path) -> list[str]:
    found = []
    for file in sorted(src.rglob("*")):
        if file.suffix not in {".cpp", ".hpp", ".h"}:
            continue
        own = room(file.relative_to(src).as_posix())
        allowed = TYPE_FILE_ALLOWED if file.name.endswith("_type.cpp") or file.name.endswith(
            "_type.hpp") else ALLOWED.get(own, set()) | {own}
        text = file.read_text(encoding="utf-8")
        for included in INCLUDE.findall(text):
            other = room(included)
            if other not in allowed | {own}:
                found.append(f"{file.relative_to(src)} includes {included} ({own} -> {other})")
        if own not in {"python", "python/vok_core", "python/engine_module"} and "Python.h" in text \
                and not file.name.endswith(("_type.cpp", "_type.hpp")):
            found.append(f"{file.relative_to(src)} includes Python.h outside the binding layer")
    return found


def main() -> int:
    src = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[2] / "src")
    found = crossings(src)
    for line in found:
        print(line)
    print(f"{0 if found else 1} passed, {1 if found else 0} failed")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
