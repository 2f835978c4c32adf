#!/usr/bin/env bash
# Builds and installs the package with pip, then runs the discovery demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup_deps.sh
python3 -m pip install -q --no-build-isolation .
cd /tmp && python3 -m vok_math "$@"
