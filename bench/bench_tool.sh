#!/usr/bin/env bash
# The tool's speed and memory as a user meets them, whole process from start to exit, on
# the mixed program of gate_mix.hpp (10^6 records by default): convert, import to JSON,
# and export from that JSON; and convert --lower, of the same program and of an OpenQASM 2
# program of as many qelib1.inc gate calls. Each is run ROUNDS times, interleaved with the others so
# that a busy machine slows all alike; the median run is shown, with the peak memory
# beside the in-library import's (one read of the file into a presized buffer).
#
#   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release
#   cmake --build build-rel -j2 --target corvane-qasm3 gate_mix_program
#   bench/bench_tool.sh build-rel [RECORDS] [ROUNDS]
set -euo pipefail

build=$1
records=${2:-1000000}
rounds=${3:-5}
tool=$build/corvane-qasm3
program=$build/bench/gate_mix_program
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$program" write "$records" >"$work/mix.qasm"
"$program" write-qasm2 "$records" >"$work/qelib1.qasm"
"$tool" import --strict "$work/mix.qasm" >"$work/mix.json"
echo "program: $records records, $(stat -c %s "$work/mix.qasm") bytes; JSON form: $(stat -c %s "$work/mix.json") bytes"

# run NAME COMMAND...: appends "elapsed cpu peak_kb" of one run to $work/NAME.
run() {
  local name=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null
  awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$work/time" >>"$work/$name"
}

for ((round = 0; round < rounds; ++round)); do
  run library-import "$program" import "$work/mix.qasm"
  # The fixed importer's path (--strict; the tool's default is the language path).
  run convert "$tool" convert --strict "$work/mix.qasm"
  run import "$tool" import --strict "$work/mix.qasm"
  run export "$tool" export "$work/mix.json"
  # The language path: the mix needs no lowering, the OpenQASM 2 program is all rewritten.
  run convert-lower "$tool" convert --lower "$work/mix.qasm"
  run convert-lower-oq2 "$tool" convert --lower "$work/qelib1.qasm"
done

median() { sort -n -k1,1 "$work/$1" | awk -v n="$rounds" 'NR == int((n + 1) / 2)'; }
base_kb=$(median library-import | awk '{ print $3 }')
printf '%-15s %9s %9s %13s %9s %8s\n' command elapsed_s cpu_s records/s peak_MB x_import
for name in library-import convert import export convert-lower convert-lower-oq2; do
  median "$name" | awk -v name="$name" -v records="$records" -v base="$base_kb" '{
    printf "%-15s %9.2f %9.2f %12.2fM %9.0f %8.2f\n", name, $1, $2, records / $1 / 1e6,
           $3 / 1024, $3 / base }'
done
