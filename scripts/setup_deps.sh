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

need_pip=()
for mod in pytest hypothesis numpy scikit_build_core dask distributed; do
    python3 -c "import $mod" >/dev/null 2>&1 || need_pip+=("${mod//_/-}")
done
if [ "${#need_pip[@]}" -gt 0 ]; then
    python3 -m pip install -q "${need_pip[@]}"
fi
