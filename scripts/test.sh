#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test;
# then builds the Python package without sanitizers and runs its pytest suite.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_QASM3_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

# A Python extension cannot bring the sanitizer runtime into the interpreter, so the
# package gets a build of its own: only the library, the extension and the tool it is
# compared with.
py_build=${PY_BUILD_DIR:-build-py-test}
cmake -S . -B "$py_build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_QASM3_BUILD_PYTHON=ON \
  -DCORVANE_QASM3_BUILD_BENCH=OFF >/dev/null
cmake --build "$py_build" -j"$(nproc)" --target corvane_python corvane-qasm3
ctest --test-dir "$py_build" --output-on-failure --no-tests=error -R '^python_'
