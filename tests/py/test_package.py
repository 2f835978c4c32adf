"""The package's own structure: its modules import one another at module level only, one way
round, taking no private names from each other; and each default reads the same wherever it is
documented. An import inside a function hides a cycle until that function first runs."""
import ast
import re
from pathlib import Path

import pytest

import vok_math
from vok_math import cli, settings

PACKAGE = Path(vok_math.__file__).parent
NATIVE = {"vok_math._engine", "vok_math.vok_core"}
# The one import of its own inside a function: the estimator subclasses scikit-learn's classes,
# so its module is imported when it is asked for.
LAZY = {("vok_math", "vok_math.estimator")}


def sources():
    """(module name, syntax tree) of every module of the package."""
    for path in sorted(PACKAGE.rglob("*.py")):
        parts = path.relative_to(PACKAGE.parent).with_suffix("").parts
        yield ".".join(parts[:-1] if parts[-1] == "__init__" else parts), ast.parse(path.read_bytes())


MODULES = dict(sources())
KNOWN = set(MODULES) | NATIVE


def own_imports(tree):
    """(module imported, names taken from it, whether inside a function) for each own import."""
    inner = {id(n) for f in ast.walk(tree) if isinstance(f, (ast.FunctionDef, ast.AsyncFunctionDef))
             for n in ast.walk(f) if n is not f}
    for node in ast.walk(tree):
        found = []
        if isinstance(node, ast.Import):
            found = [(a.name, []) for a in node.names if a.name.split(".")[0] == "vok_math"]
        elif isinstance(node, ast.ImportFrom) and (node.module or "").split(".")[0] == "vok_math":
            for a in node.names:
                sub = f"{node.module}.{a.name}"
                found.append((sub, []) if sub in KNOWN else (node.module, [a.name]))
        elif (isinstance(node, ast.Call) and ast.unparse(node.func).endswith("import_module")
              and node.args and isinstance(node.args[0], ast.Constant)):
            found = [(node.args[0].value, [])]
        for module, names in found:
            yield module, names, id(node) in inner


def test_the_package_imports_its_own_modules_at_module_level():
    inside = {(name, module) for name, tree in MODULES.items()
              for module, _, nested in own_imports(tree) if nested}
    assert inside == LAZY


def test_the_imports_run_one_way():
    edges = {name: {m for m, _, _ in own_imports(tree) if m in MODULES} for name, tree in MODULES.items()}
    done, path = set(), []

    def visit(name):
        assert name not in path, f"import cycle: {' -> '.join([*path[path.index(name):], name])}"
        if name in done:
            return
        path.append(name)
        for target in sorted(edges[name]):
            visit(target)
        path.pop()
        done.add(name)

    for name in sorted(edges):
        visit(name)


def test_no_private_name_crosses_a_module_line():
    crossing = []
    for name, tree in MODULES.items():
        for module, names, _ in own_imports(tree):
            crossing += [f"{name}: {module}.{n}" for n in names if n.startswith("_")
                         and not n.startswith("__")]
        own = {a.asname or a.name for n in ast.walk(tree) if isinstance(n, ast.ImportFrom)
               and (n.module or "").startswith("vok_math") for a in n.names
               if f"{n.module}.{a.name}" in KNOWN}
        crossing += [f"{name}: {ast.unparse(n)}" for n in ast.walk(tree)
                     if isinstance(n, ast.Attribute) and isinstance(n.value, ast.Name)
                     and n.value.id in own and n.attr.startswith("_") and not n.attr.startswith("__")]
    assert crossing == []


def test_the_documented_defaults_are_the_settings(capsys, monkeypatch):
    documented = dict(re.findall(r"\n    (\w+) : [^\n]*default ([^\n]+)", vok_math.discover.__doc__))
    assert ast.literal_eval(documented["max_size"]) == settings.DEFAULT_MAX_SIZE
    assert ast.literal_eval(documented["time_limit"]) == settings.DEFAULT_TIME_LIMIT
    assert ast.literal_eval(documented["max_rows"]) == settings.DEFAULT_MAX_ROWS
    assert ast.literal_eval(documented["constants"]) == settings.DEFAULT_CONSTANTS
    monkeypatch.setenv("COLUMNS", "200")    # each option's help on one line
    for command in ("discover", "batch"):
        with pytest.raises(SystemExit):
            cli.main([command, "--help"])
        stated = re.search(r"--constants C,\.\.\. +constant leaves \(default: ([^)]*)\)",
                           capsys.readouterr().out).group(1)
        assert tuple(float(c) for c in stated.split(",")) == settings.DEFAULT_CONSTANTS
