#!/usr/bin/env bash
# Installs the built package into a scratch prefix and builds a consumer with find_package.
set -euo pipefail
build_dir=$1 consumer_src=$2 cxx=$3 sanitize=${4:-OFF}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
flags=()
if [[ "$sanitize" == "ON" ]]; then
  flags+=(-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined)
fi
cmake -S "$consumer_src" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" "${flags[@]}" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer"
