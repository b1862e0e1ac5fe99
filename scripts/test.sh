#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test;
# builds everything again with clang, the libFuzzer targets included, and replays their
# corpora; then builds the Python package without sanitizers and runs its pytest suite; then installs
# the package with pip from a clean copy of the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_QASM3_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

# clang builds everything too, the libFuzzer targets with it: each target replays its
# checked-in corpus, one input after another, under the sanitizers libFuzzer builds in.
clang_build=${CLANG_BUILD_DIR:-build-clang}
cmake -S . -B "$clang_build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_QASM3_BUILD_FUZZ=ON -DCORVANE_QASM3_BUILD_BENCH=OFF >/dev/null
cmake --build "$clang_build" -j"$(nproc)"
ctest --test-dir "$clang_build" --output-on-failure -j"$(nproc)" -E '^(install_package|fuzz_.*_replay)$'
for target in fuzz_eval fuzz_import_text fuzz_import fuzz_export fuzz_lower; do
  find "fuzz/corpus/$target" -type f -print0 |
    xargs -0 "$clang_build/fuzz/$target" -artifact_prefix="$clang_build/" >"$clang_build/$target.log" 2>&1 ||
    { cat "$clang_build/$target.log" >&2; echo "$target: a corpus input fails" >&2; exit 1; }
  echo "$target: $(find "fuzz/corpus/$target" -type f | wc -l) corpus inputs replayed"
done

# A Python extension cannot bring the sanitizer runtime into the interpreter, so the
# package gets a build of its own: only the library, the extension and the tool it is
# compared with.
py_build=${PY_BUILD_DIR:-build-py-test}
cmake -S . -B "$py_build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_QASM3_BUILD_PYTHON=ON \
  -DCORVANE_QASM3_BUILD_BENCH=OFF >/dev/null
cmake --build "$py_build" -j"$(nproc)" --target corvane_python corvane-qasm3
ctest --test-dir "$py_build" --output-on-failure --no-tests=error -R '^python_'

# pip builds the package from the tree's own files (no build directories), into a virtual
# environment of Debian's interpreter, the one its python3-* packages serve; the build
# must leave the tree as it was, and the package must then import from any directory and
# bring the corvane-qasm3 command, which converts as the tool built above does.
pip_dir=$(mktemp -d)
trap 'rm -rf "$pip_dir"' EXIT
mkdir "$pip_dir/src"
git ls-files -z --cached --others --exclude-standard |
  tar -cf - --null -T - | tar -xf - -C "$pip_dir/src"
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="$pip_dir"
fi
(cd "$pip_dir/src" && find . | sort) >"$pip_dir/tree-before"
"$py_build/corvane-qasm3" convert examples/bell.qasm >"$pip_dir/bell-expected"
if ! (/usr/bin/python3 -m venv --system-site-packages "$pip_dir/v" &&
      "$pip_dir/v/bin/pip" install -q --no-build-isolation "$pip_dir/src" &&
      (cd "$pip_dir/src" && find . | sort) | diff "$pip_dir/tree-before" - &&
      cd "$pip_dir" && "$pip_dir/v/bin/python" -c "from corvane.backend.qasm import qasm3" &&
      "$pip_dir/v/bin/corvane-qasm3" --version &&
      "$pip_dir/v/bin/corvane-qasm3" convert src/examples/bell.qasm >bell-installed &&
      cmp bell-expected bell-installed) \
    >"$pip_dir/log" 2>&1; then
  cat "$pip_dir/log" >&2
  echo "pip install of the package failed" >&2
  exit 1
fi
echo "pip install of the package, with the corvane-qasm3 command: ok"
