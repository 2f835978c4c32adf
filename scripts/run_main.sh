#!/usr/bin/env bash
# The README's main command: installs what running needs, builds and installs the package
# (reusing the build when the sources have not changed), then runs vok-math. Without arguments
# that is the shipped samples; any arguments go to `python3 -m vok_math` (run from where this
# script was called, so relative paths work).
set -euo pipefail
caller="$PWD"
cd "$(dirname "$0")/.."
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore

bash scripts/setup_deps.sh run

build=build/main
log="$PWD/$build.log"
mkdir -p "$build"
# The installed package is current when the sources and the interpreter are what it was built from.
stamp="$({ python3 -VV; find CMakeLists.txt pyproject.toml README.md src python -type f \
           -not -path '*/__pycache__/*' -print0 | sort -z | xargs -0 sha256sum; } | sha256sum)"
if [[ -f "$build/installed.stamp" && "$(cat "$build/installed.stamp")" == "$stamp" ]] &&
   (cd / && python3 -c "import vok_math.cli, vok_math.vok_core") >/dev/null 2>&1; then
    echo "== vok_math is up to date (sources unchanged since the last install)"
else
    echo "== building and installing vok_math (the native core takes a minute the first time)"
    start=$SECONDS
    rm -f "$build/installed.stamp"
    # -v for the compiler's progress lines, which are the only ones shown; all of it goes to the log.
    if ! python3 -m pip install -v --no-deps --no-build-isolation -C build-dir="$build" . 2>&1 |
         tee "$log" | awk '
            /^ *\*\*\* / && !/metadata_wheel/ { sub(/^ *\*\*\* */, ""); print "   " $0; fflush() }
            /^ *\[[0-9]+\/[0-9]+\] / {
                what = match($0, /src\/[^ ]*\.cpp/) ? "compiling " substr($0, RSTART, RLENGTH) \
                     : /Linking/ ? "linking" : ""
                if (what != "") { print "   " $1 " " what; fflush() } }'; then
        echo "   failed; the end of $log:" >&2
        tail -n 40 "$log" >&2
        exit 1
    fi
    echo "$stamp" >"$build/installed.stamp"
    echo "   installed in $((SECONDS - start)) s"
fi

echo "== python3 -m vok_math${*:+ $*}"
cd "$caller"
exec python3 -m vok_math "$@"
