#!/usr/bin/env bash
# Installs what the build and the tests need, only when it is missing.
set -euo pipefail

need_apt=()
for pkg in libgtest-dev libbenchmark-dev; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need_apt+=("$pkg")
done
command -v cmake >/dev/null 2>&1 || python3 -m pip install -q cmake
command -v ninja >/dev/null 2>&1 || python3 -m pip install -q ninja
if [ "${#need_apt[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi

# module:package; the optional extras are installed too, so that every test runs.
need_pip=()
for pair in pytest:pytest hypothesis:hypothesis numpy:numpy scikit_build_core:scikit-build-core \
            tqdm:tqdm sympy:sympy pandas:pandas sklearn:scikit-learn; do
    python3 -c "import ${pair%%:*}" >/dev/null 2>&1 || need_pip+=("${pair#*:}")
done
if [ "${#need_pip[@]}" -gt 0 ]; then
    python3 -m pip install -q "${need_pip[@]}"
fi
