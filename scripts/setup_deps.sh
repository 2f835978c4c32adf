#!/usr/bin/env bash
# Installs what is missing, a line per step, the tools' own output kept in a log shown on failure.
#
#   scripts/setup_deps.sh run    what building and running the package needs (pip only)
#   scripts/setup_deps.sh test   that, plus the test tools (pytest, hypothesis, ruff), every
#                                optional extra, GoogleTest and Google Benchmark (apt-get)
set -euo pipefail
cd "$(dirname "$0")/.."
mode="${1:-test}"
mkdir -p build
log="$PWD/build/setup.log"
: >"$log"
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore DEBIAN_FRONTEND=noninteractive

fail() {
    echo "   failed; the end of $log:" >&2
    tail -n 30 "$log" >&2
    exit 1
}

CLANG_FORMAT_VERSION=18.1.8
# module:pip-name pairs; a module that imports is not installed again.
run_pkgs=(numpy:numpy tqdm:tqdm matplotlib:matplotlib sympy:sympy
          scikit_build_core:scikit-build-core)
test_pkgs=(pytest:pytest hypothesis:hypothesis pandas:pandas sklearn:scikit-learn
           distributed:"dask[distributed]" ruff:ruff)
case "$mode" in
    run) wanted=("${run_pkgs[@]}") ;;
    test) wanted=("${run_pkgs[@]}" "${test_pkgs[@]}") ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

need_pip=()
for pair in "${wanted[@]}"; do
    python3 -c "import ${pair%%:*}" >/dev/null 2>&1 || need_pip+=("${pair#*:}")
done
# The C++ style is checked by one pinned clang-format: other versions lay code out differently.
if [[ "$mode" == test ]] && ! clang-format --version 2>/dev/null | grep -q "version $CLANG_FORMAT_VERSION"; then
    need_pip+=("clang-format==$CLANG_FORMAT_VERSION")
fi
command -v cmake >/dev/null 2>&1 || need_pip+=(cmake)
command -v ninja >/dev/null 2>&1 || need_pip+=(ninja)
if ((${#need_pip[@]})); then
    echo "== installing with pip: ${need_pip[*]}"
    start=$SECONDS
    python3 -m pip install -q "${need_pip[@]}" >>"$log" 2>&1 || fail
    echo "   done in $((SECONDS - start)) s"
else
    echo "== Python packages: all present"
fi

if [[ "$mode" == test ]]; then
    need_apt=()
    for pkg in libgtest-dev libbenchmark-dev; do
        dpkg -s "$pkg" >/dev/null 2>&1 || need_apt+=("$pkg")
    done
    if ((${#need_apt[@]})); then
        echo "== installing with apt-get: ${need_apt[*]}"
        start=$SECONDS
        { apt-get update -qq && apt-get install -y -qq "${need_apt[@]}"; } >>"$log" 2>&1 || fail
        echo "   done in $((SECONDS - start)) s"
    else
        echo "== GoogleTest and Google Benchmark: present"
    fi
fi
