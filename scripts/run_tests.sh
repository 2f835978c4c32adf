#!/usr/bin/env bash
# Builds and runs every test: C++ and Python, on a release build and on an
# AddressSanitizer + UndefinedBehaviorSanitizer build of the extension.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup_deps.sh test
jobs=$(nproc)

echo "== lint (ruff, clang-format)"
python3 -m ruff check python/vok_math tests/py bench scripts
find src tests bench \( -name '*.cpp' -o -name '*.hpp' \) -print0 | xargs -0 clang-format --dry-run --Werror

echo "== release build"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$jobs"
(cd build/release && ctest --output-on-failure -j "$jobs")
PYTHONPATH=build/release/python python3 -X dev -m pytest -q -p no:cacheprovider tests/py
# The examples in the package's docstrings.
PYTHONPATH=build/release/python python3 -m pytest -q -p no:cacheprovider --doctest-modules \
    build/release/python/vok_math

echo "== sanitizer build (ASan + UBSan)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOK_SANITIZE=ON \
      -DVOK_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build/asan -j "$jobs"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build/asan && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 ctest --output-on-failure -j "$jobs")
# The interpreter is not instrumented: preload the runtime (libstdc++ too, or the
# first C++ throw trips an ASan check) and leave the interpreter's own leaks alone.
preload="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
LD_PRELOAD="$preload" PYTHONMALLOC=malloc VOK_SANITIZED=1 \
ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:halt_on_error=1:strict_init_order=true \
PYTHONPATH=build/asan/python python3 -m pytest -q -s -p no:cacheprovider tests/py
echo "== all tests passed"
