#!/usr/bin/env bash
# Checks the command-line tool as a user meets it: exit status, the one error line on
# standard error, nothing on standard output after a failure, files and standard input,
# the JSON form in both directions, and the exact text that export and convert write.
#
# usage: cli_test.sh <tool> <source dir>
set -u

tool=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0

fail() {
  failed=$((failed + 1))
  echo "FAIL: $1" >&2
  echo "  status $status" >&2
  echo "  stderr: $(head -c 400 "$work/err")" >&2
  echo "  stdout: $(head -c 400 "$work/out")" >&2
}

# run [ARG...]: runs the tool with standard input from $input (empty unless set); a run
# that hangs ends with status 124 and fails its check.
run() {
  timeout 600 "$tool" "$@" <"${input:-/dev/null}" >"$work/out" 2>"$work/err"
  status=$?
}

# assert NAME CONDITION...: counts the check as passed when CONDITION succeeds.
assert() {
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else fail "$name"; fi
}

stdout_is() { cmp -s "$work/out" <(printf '%s' "$1"); }
stdout_empty() { [[ ! -s $work/out ]]; }
stderr_empty() { [[ ! -s $work/err ]]; }
# Exactly one line, ended by a line feed, equal to $1 (or matching the glob $1 with -g).
stderr_line() {
  local glob=0
  if [[ $1 == -g ]]; then glob=1; shift; fi
  [[ $(wc -l <"$work/err") -eq 1 && $(tail -c 1 "$work/err" | od -An -c) == *'\n'* ]] || return 1
  local line
  line=$(cat "$work/err")
  if ((glob)); then [[ $line == $1 ]]; else [[ $line == "$1" ]]; fi
}

# expect_output NAME EXPECTED [ARG...]: status 0, stderr empty, stdout exactly EXPECTED.
expect_output() {
  local name=$1 expected=$2
  shift 2
  run "$@"
  assert "$name" eval '[[ $status -eq 0 ]] && stderr_empty && stdout_is "$expected"'
}

# expect_error NAME STATUS LINE [ARG...]: stdout empty, stderr exactly LINE.
expect_error() {
  local name=$1 want=$2 line=$3
  shift 3
  run "$@"
  assert "$name" eval '[[ $status -eq $want ]] && stdout_empty && stderr_line "$line"'
}

# expect_error_like NAME STATUS GLOB [ARG...]: as expect_error, the line matching GLOB.
expect_error_like() {
  local name=$1 want=$2 glob=$3
  shift 3
  run "$@"
  assert "$name" eval '[[ $status -eq $want ]] && stdout_empty && stderr_line -g "$glob"'
}

header=$'OPENQASM 3.0;\ninclude "stdgates.inc";\n'

# ---------------------------------------------------------------- help and version
version=$(sed -n 's/^project(corvane-qasm3 VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
expect_output "--version" "corvane-qasm3 $version"$'\n' --version
for args in "--help" "-h" "import --help" "export --qregs q:1 --help"; do
  # shellcheck disable=SC2086
  run $args
  assert "help: $args" eval '[[ $status -eq 0 ]] && stderr_empty && grep -q "^usage: corvane-qasm3" "$work/out"'
done

# ---------------------------------------------------------------- usage errors
# Each row: the arguments of a command line the tool refuses.
while read -r -a args; do
  expect_error_like "usage: ${args[*]:-no arguments}" 2 "corvane-qasm3: *" "${args[@]}"
done <<'ROWS'

frobnicate
export --frob
export --flat
import --qregs q:1
convert --qreg-name r
convert --flat=yes
export --qreg-name
export --qregs q
export --qregs :2
export --cregs c:two
export --qregs a:1,,b:2
export --num-clbits 1.5
import a.qasm b.qasm
lower --input theta
lower --input =1
lower --input theta=
lower --lower
export --lower=yes
convert --lower=yes
export -I lib
export --input gamma
lower -I
lower --include-path
export --strict
lower --strict
import --strict=yes
ROWS
expect_error "usage line format" 2 \
  "corvane-qasm3: unknown option '--frob' (see 'corvane-qasm3 --help')" import --frob
# --strict is the fixed importer, which knows nothing of lowering's options.
while IFS='|' read -r line args; do
  read -r -a args <<<"$args"
  expect_error "usage: ${args[*]}" 2 "corvane-qasm3: $line (see 'corvane-qasm3 --help')" "${args[@]}"
done <<'ROWS'
--lower and --strict exclude each other|import --lower --strict
--lower and --strict exclude each other|convert --strict x.qasm --lower
--input is not an option of import --strict|import --strict --input theta=1
--include-path is not an option of convert --strict|convert -I lib --strict
ROWS

# ---------------------------------------------------------------- unreadable input
expect_error "missing file" 2 \
  "corvane-qasm3: cannot read '$work/none.qasm': No such file or directory" import "$work/none.qasm"
expect_error "directory" 2 "corvane-qasm3: cannot read '$work': Is a directory" convert "$work"

# ---------------------------------------------------------------- reading the JSON form
# Each row: the error line export writes (@FILE@ the file's name), then the JSON it reads
# (printf-escaped).
while IFS='|' read -r line json; do
  # shellcheck disable=SC2059
  printf "$json" >"$work/bad.json"
  expect_error "json: $json" 1 "${line//@FILE@/$work/bad.json}" export "$work/bad.json"
done <<'ROWS'
TypeError: a gate sequence must be a JSON object|[]
ValueError: the gate sequence has an unknown key 'gate'|{"gate": []}
ValueError: num_qubits must not be negative|{"num_qubits": -1}
TypeError: num_qubits must be an integer|{"num_qubits": 2.0}
TypeError: gates must be a list of gates|{"gates": {}}
TypeError: gates[1] must be an object|{"gates": [{"id": "h", "target": [0]}, 3]}
TypeError: gates[1] must be an object|{"gates": [{"id": "h", "target": [0]}, [{"id": "h", "target": [0]}]]}
ValueError: the gate sequence has the key 'gates' twice|{"gates": [], "num_qubits": 1, "gates": []}
ValueError: gates[0] has no key 'id'|{"gates": [{"target": [0]}]}
ValueError: gates[0] has no key 'target'|{"gates": [{"id": "h", "target": null}]}
ValueError: gates[0] has an unknown key 'tagret'|{"gates": [{"id": "h", "tagret": [0]}]}
TypeError: gates[0].target must be a list of integers|{"gates": [{"id": "h", "target": [1.0]}]}
TypeError: gates[0].target must be a list of integers|{"gates": [{"id": "h", "target": [Infinity]}]}
TypeError: gates[0].control must be a list of integers|{"gates": [{"id": "h", "target": [1], "control": [true]}]}
ValueError: gates[0].target holds an integer out of range: 9223372036854775808|{"gates": [{"id": "h", "target": [9223372036854775808]}]}
TypeError: gates[0].block_gate_sequence[1].control_state must be a list of integers, booleans or numbers|{"gates": [{"id": "block", "target": [0], "block_gate_sequence": [{"id": "h", "target": [0]}, {"id": "x", "target": [0], "control_state": ["1"]}]}]}
TypeError: gates[0].parameter must be a number, boolean, string or a list of these|{"gates": [{"id": "u", "target": [0], "parameter": [[1]]}]}
TypeError: gates[0].parameter must be a number, boolean, string, list or {"array": matrix}|{"gates": [{"id": "u", "target": [0], "parameter": {"matrix": []}}]}
TypeError: gates[0].stored_matrix must be a list of rows of [real, imaginary] pairs|{"gates": [{"id": "unitary", "target": [0], "stored_matrix": [[1, 0], [0, 1]]}]}
ValueError: gates[0].matrix has rows of different lengths|{"gates": [{"id": "h", "target": [0], "matrix": [[[1, 0], [0, 0]], [[0, 0]]]}]}
TypeError: qasm_quantum_registers must be a list of [name, size] pairs|{"qasm_quantum_registers": [["q"]]}
ValueError: gates[0].condition.compare must be one of "==", "!=", "<", "<=", ">", ">="|{"gates": [{"id": "if", "target": [0], "condition": {"bits": [0], "compare": "=<", "value": 1}, "block_gate_sequence": [{"id": "x", "target": [0]}]}]}
ValueError: gates[0].condition: condition value 2 does not fit in 1 bit|{"gates": [{"id": "if", "target": [0], "condition": {"bits": [0], "compare": "==", "value": 2}, "block_gate_sequence": [{"id": "x", "target": [0]}]}]}
ValueError: gates[0]: 'if' records cannot be controlled|{"gates": [{"id": "if", "target": [0], "control": [1], "condition": {"bits": [0], "compare": "==", "value": 1}, "block_gate_sequence": [{"id": "x", "target": [0]}]}]}
TypeError: gates[0] must be an object|{"gates": [[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[
@FILE@:2:3: ValueError: Invalid JSON: unexpected end of input|{"gates": [\n  
@FILE@:1:1: ValueError: Invalid JSON: unexpected end of input|
@FILE@:1:20: ValueError: Input is not valid UTF-8: invalid start byte at byte 19|{"gates": [{"id": "\xff", "target": [0]}]}
@FILE@:1:20: ValueError: Invalid JSON: unpaired surrogate|{"gates": [{"id": "\\ud800", "target": [0]}]}
@FILE@:1:16: ValueError: Invalid JSON: invalid number|{"num_qubits": 01}
@FILE@:1:16: ValueError: Invalid JSON: invalid number|{"num_qubits": -NaN}
@FILE@:1:19: ValueError: Invalid JSON: unexpected text after the gate sequence|{"num_qubits": 1} []
ROWS

# A message quotes at most 40 characters of a key or a number, "..." where it is cut.
a40=$(printf 'a%.0s' {1..40})
e40=$(printf 'é%.0s' {1..40})
zeros=$(printf '0%.0s' {1..5000})
while IFS='|' read -r line json; do
  printf '%s' "$json" >"$work/bad.json"
  expect_error "json excerpt: ${json:0:60}" 1 "$line" export "$work/bad.json"
done <<ROWS
ValueError: the gate sequence has an unknown key '$a40'|{"$a40": 1}
ValueError: the gate sequence has an unknown key '$a40...'|{"${a40}b": 1}
ValueError: gates[0] has an unknown key '$e40...'|{"gates": [{"id": "h", "${e40}${e40}": 1}]}
ValueError: num_qubits holds an integer out of range: 1${zeros:0:39}...|{"num_qubits": 1$zeros}
ValueError: gates[0].target holds an integer out of range: -1${zeros:0:38}...|{"gates": [{"id": "h", "target": [-1$zeros]}]}
ValueError: gates[0].condition has an unknown key '$a40...'|{"gates": [{"id": "if", "target": [0], "condition": {"${a40}${a40}": 1}}]}
ValueError: gates[0].condition.value holds an integer out of range: 1${zeros:0:39}...|{"gates": [{"id": "if", "target": [0], "condition": {"value": 1$zeros}}]}
ROWS

nested_blocks() {
  python3 -c "
n = $1
print('{\"gates\": ' + '[{\"id\": \"block\", \"target\": [0], \"block_gate_sequence\": ' * n
      + '[]' + '}]' * n + '}')"
}
nested_blocks 100000 >"$work/deep.json"
expect_error "json: 100000 nested blocks" 1 "RecursionError: maximum recursion depth exceeded" \
  export "$work/deep.json"
nested_blocks 1001 >"$work/deep.json"
expect_error "json: blocks one level too deep" 1 "RecursionError: maximum recursion depth exceeded" \
  export "$work/deep.json"

# ---------------------------------------------------------------- export: the failing record
# An export error about one record is placed where that record's object starts in the
# JSON text, the innermost one inside blocks; other errors have no place. Each row: the
# error line (@FILE@ the file's name), then the JSON (printf-escaped), then export's options.
while IFS='|' read -r line json options; do
  # shellcheck disable=SC2059
  printf "$json" >"$work/fails.json"
  # shellcheck disable=SC2086
  expect_error "export places: $json" 1 "${line//@FILE@/$work/fails.json}" \
    export "$work/fails.json" $options
done <<'ROWS'
@FILE@:3:3: NotImplementedError: QASM 3.0 export does not support gate id 'nosuch'|{"num_qubits": 1, "gates": [\n  {"id": "h", "target": [0]},\n  {"id": "nosuch", "target": [0]}\n]}|
@FILE@:1:55: NotImplementedError: QASM 3.0 export does not support gate id 'nosuch'|{"gates": [{"id": "h", "target": [0], "name": "ééé"}, {"id": "nosuch", "target": [0]}]}|
@FILE@:5:88: ValueError: cx requires at least one control qubit|{"gates": [\n  {"id": "block", "target": [0, 1], "block_gate_sequence": [{"id": "h", "target": [0]}]},\n  {"id": "block", "target": [0, 1], "block_gate_sequence": [\n    {"id": "x", "target": [1]},\n    {"id": "block", "target": [0], "block_gate_sequence": [{"id": "h", "target": [0]}, {"id": "cx", "target": [0]}]}]}\n]}|
@FILE@:2:84: ValueError: cx requires at least one control qubit|{"gates": [{"id": "block", "target": [0], "block_gate_sequence": [{"id": "h", "target": [0]}]},\n{"id": "block", "target": [0], "block_gate_sequence": [{"id": "x", "target": [0]}, {"id": "cx", "target": [0]}]}]}|--qregs q:1
@FILE@:2:2: ValueError: block gate requires target qubits|{"gates": [\n {"id": "block", "target": [], "block_gate_sequence": [{"id": "h", "target": [0]}]}]}|
@FILE@:1:12: ValueError: measure requires matching quantum and classical targets|{"gates": [{"id": "measure", "target": [0], "classical_target": [0, 1]}]}|--qregs q:1 --cregs c:2
ValueError: Register declarations cover 2 indices, but 6 are required|{"gates": [{"id": "h", "target": [5]}]}|--qregs q:2
ROWS
printf '{"gates": [\n\n    {"id": "nosuch", "target": [0]}]}' >"$work/fails.json"
input=$work/fails.json
expect_error "export places: standard input" 1 \
  "<stdin>:3:5: NotImplementedError: QASM 3.0 export does not support gate id 'nosuch'" export
unset input
# The record of a large file, far past the pages given back while reading.
python3 -c "
import sys
n = 300000
sys.stdout.write('{\"gates\": [\n' + '  {\"id\": \"h\", \"target\": [0]},\n' * n
                 + '  {\"id\": \"nosuch\", \"target\": [0]}]}\n')" >"$work/large.json"
expect_error "export places: a record of a large file" 1 \
  "$work/large.json:300002:3: NotImplementedError: QASM 3.0 export does not support gate id 'nosuch'" \
  export "$work/large.json"

# ---------------------------------------------------------------- export: exact text
export_json() {
  local name=$1 expected=$2 json=$3
  shift 3
  printf '%s' "$json" >"$work/in.json"
  expect_output "export: $name" "$expected" export "$work/in.json" "$@"
}
export_json "empty sequence" "$header"$'\nqubit[1] q;\n' '{"num_qubits": 0, "gates": []}'
export_json "all keys missing" "$header"$'\nqubit[1] q;\n' '{}'
export_json "explicit registers" "$header"$'\nqubit[2] data;\nqubit[1] anc;\nbit[1] c;\n\nmeasure anc[0] -> c[0];\n' \
  '{"num_qubits": 3, "gates": [{"id": "measure", "target": [2], "classical_target": [0]}]}' \
  --qregs data:2,anc:1
export_json "register names" "$header"$'\nqubit[2] qr;\nbit[2] cr;\n\nmeasure qr[1] -> cr[1];\n' \
  '{"num_qubits": 2, "gates": [{"id": "measure", "target": [1], "classical_target": [1]}]}' \
  --qreg-name qr --creg-name=cr
export_json "declared bits" "$header"$'\nqubit[1] q;\nbit[4] c;\n\nh q[0];\n' \
  '{"gates": [{"id": "h", "target": [0]}]}' --num-clbits 4
export_json "cregs without measurements" "$header"$'\nqubit[1] q;\n\nh q[0];\n' \
  '{"gates": [{"id": "h", "target": [0]}]}' --cregs m:2
export_json "declared qubits beyond the gates" "$header"$'\nqubit[5] q;\n\nh q[1];\n' \
  '{"num_qubits": 5, "gates": [{"id": "h", "target": [1]}]}'

block_def=$'\ngate block_0 a0, a1 {\n  h a0;\n  cx a0, a1;\n}\n'
export_json "controlled block as definition" \
  "$header$block_def"$'\nqubit[5] q;\n\nctrl @ block_0 q[0], q[3], q[4];\n' \
  '{"num_qubits": 5, "gates": [{"id": "block", "target": [3, 4], "control": [0], "control_state": [1],
    "block_gate_sequence": [{"id": "h", "target": [0]},
                            {"id": "cx", "target": [1], "control": [0], "control_state": [1]}]}]}'
export_json "non-local block inline" \
  "$header"$'\nqubit[6] q;\n\nctrl @ h q[0], q[5];\nctrl @ ctrl @ x q[0], q[2], q[5];\n' \
  '{"gates": [{"id": "block", "target": [3, 4], "control": [0], "control_state": [1],
    "block_gate_sequence": [{"id": "h", "target": [5]},
                            {"id": "cx", "target": [5], "control": [2], "control_state": [1]}]}]}'
export_json "empty block" "$header"$'\ngate block_0 a0, a1 {\n}\n\nqubit[2] q;\n\nblock_0 q[0], q[1];\n' \
  '{"gates": [{"id": "block", "target": [0, 1], "block_gate_sequence": []}]}'
export_json "controlled names and modifiers" "$header"$'\nqubit[4] q;\n\ncrz(0.5) q[0], q[1];\nctrl @ negctrl @ rx(0.5) q[0], q[1], q[2];\nnegctrl @ p(0.25) q[0], q[1];\nccx q[0], q[1], q[2];\nctrl @ ctrl @ ctrl @ x q[0], q[1], q[2], q[3];\ncu(0.1, 0.2, 0.3, 0) q[0], q[1];\nswap q[0], q[1];\nswap q[2], q[3];\ncswap q[0], q[1], q[2];\ncx q[0], q[1];\nnegctrl @ x q[0], q[1];\n' \
  '{"gates": [
    {"id": "crz", "target": [1], "control": [0], "control_state": [1], "parameter": 0.5},
    {"id": "mcrx", "target": [2], "control": [0, 1], "control_state": [1, 0], "parameter": [0.5]},
    {"id": "cp", "target": [1], "control": [0], "control_state": [0], "parameter": 0.25},
    {"id": "mcx", "target": [2], "control": [0, 1], "control_state": [1, 1]},
    {"id": "mcx", "target": [3], "control": [0, 1, 2], "control_state": [1, 1, 1]},
    {"id": "u", "target": [1], "control": [0], "control_state": [1], "parameter": [0.1, 0.2, 0.3]},
    {"id": "swap", "target": [0, 1, 2, 3]},
    {"id": "swap", "target": [1, 2], "control": [0], "control_state": [1]},
    {"id": "cnot", "target": [1], "control": [0], "control_state": [1]},
    {"id": "cx", "target": [1], "control": [0], "control_state": [0]}]}'
export_json "control states read as the exporter reads them" \
  "$header"$'\nqubit[2] q;\n\ncx q[0], q[1];\ncx q[0], q[1];\nnegctrl @ x q[0], q[1];\nnegctrl @ x q[0], q[1];\nnegctrl @ x q[0], q[1];\nnegctrl @ x q[0], q[1];\n' \
  '{"gates": [
    {"id": "cx", "target": [1], "control": [0], "control_state": [true]},
    {"id": "cx", "target": [1], "control": [0], "control_state": [1.0]},
    {"id": "cx", "target": [1], "control": [0], "control_state": [false]},
    {"id": "cx", "target": [1], "control": [0], "control_state": [0.5]},
    {"id": "cx", "target": [1], "control": [0], "control_state": [2]},
    {"id": "cx", "target": [1], "control": [0], "control_state": [NaN]}]}'
export_json "parameters of every kind" "$header"$'\nqubit[1] q;\n\nrx(pi/4) q[0];\nrx(1) q[0];\nrx(1) q[0];\nrx(3) q[0];\nU(0.5, 1, 2) q[0];\nrx(1e-05) q[0];\nrx(-0) q[0];\nh q[0];\n' \
  '{"gates": [
    {"id": "r\u0078", "t\u0061rget": [0], "parameter": "pi\/4"},
    {"id": "rx", "target": [0], "parameter": 1.0},
    {"id": "rx", "target": [0], "parameter": true},
    {"id": "rx", "target": [0], "parameter": 3},
    {"id": "u", "target": [0], "parameter": [0.5, 1.0, 2]},
    {"id": "rx", "target": [0], "parameter": 1e-5},
    {"id": "rx", "target": [0], "parameter": -0.0},
    {"id": "h", "target": [0], "parameter": []}]}'
export_json "special operations" "$header"$'\nqubit[4] q;\nbit[2] c;\n\ncx q[0], q[1];\nrz(0.5) q[1];\ncx q[0], q[1];\ngphase(0.5);\nctrl @ negctrl @ gphase(0.5) q[0], q[1];\ngphase(3.14159265358979) ;\nz q[3];\nunitary(0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0) q[0];\nnegctrl @ unitary(0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0) q[1], q[0];\nmeasure q[0] -> c[1];\nmeasure q[1] -> c[0];\n' \
  '{"gates": [
    {"id": "rzz", "target": [0, 1], "parameter": 0.5},
    {"id": "gp", "target": [], "parameter": 0.5},
    {"id": "global_phase", "target": [], "control": [0, 1], "control_state": [1, 0], "parameter": 0.5},
    {"id": "-z", "target": [3]},
    {"id": "unitary", "target": [0], "stored_matrix": [[[0, 0], [1, 0]], [[1, 0], [0, 0]]]},
    {"id": "unitary", "target": [0], "control": [1], "control_state": [0],
     "stored_matrix": [[[1e-999, 0.0], [1.0, 0.0]], [[1.0, 0.0], [0.0, 0.0]]]},
    {"id": "measure", "target": [0, 1], "classical_target": [1, 0]}]}' --num-clbits 1
expect_output "export: ghz example" "$header"$'\nqubit[3] q;\nbit[3] c;\n\nh q[0];\ncx q[0], q[1];\ncx q[1], q[2];\nmeasure q[0] -> c[0];\nmeasure q[1] -> c[1];\nmeasure q[2] -> c[2];\n' \
  export "$src/examples/ghz.json"
ghz_text=$(cat "$work/out"; printf x)
ghz_text=${ghz_text%x}
input=$src/examples/ghz.json
expect_output "export: standard input" "$ghz_text" export
expect_output "export: standard input as -" "$ghz_text" export -
input=

# export --lower writes the language beyond the gate subset: conditioned records with the
# program's register names, resets, the matrix a unitary record read from text, numbers
# that read back exactly.
export_json "--lower: the full language" "$header"$'\nqubit[2] q;\nbit[1] m;\nbit[2] flags;\n\nmeasure q[0] -> m[0];\nif (m == 1) {\n  x q[1];\n} else {\n  reset q[1];\n  if (flags[1] != 0) {\n    h q[0];\n  }\n}\nwhile (flags <= 2) {\n  measure q[1] -> flags[0];\n}\nrz(1.5707963267948966) q[0];\nnegctrl @ unitary(0.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, -0.0) q[0], q[1];\n' \
  '{"num_qubits": 2, "gates": [{"id": "measure", "target": [0], "classical_target": [0]},
  {"id": "if", "target": [0, 1], "condition": {"bits": [0], "compare": "==", "value": 1},
   "block_gate_sequence": [{"id": "x", "target": [1]}],
   "else_gate_sequence": [{"id": "reset", "target": [1]},
     {"id": "if", "target": [0], "condition": {"bits": [2], "compare": "!=", "value": 0},
      "block_gate_sequence": [{"id": "h", "target": [0]}]}]},
  {"id": "while", "target": [1], "condition": {"bits": [1, 2], "compare": "<=", "value": 2},
   "block_gate_sequence": [{"id": "measure", "target": [1], "classical_target": [1]}]},
  {"id": "rz", "target": [0], "parameter": [1.5707963267948966]},
  {"id": "unitary", "target": [1], "control": [0], "control_state": [0],
   "matrix": [[[0, 0], [1, 0]], [[1, 0], [0, -0.0]]]}]}' --lower --cregs m:1,flags:2

# Each row: the error line export writes (@FILE@ the file's name), the JSON it reads, then
# its arguments. The converter's own errors pass through, non-finite numbers among them,
# placed at the record they are about.
while IFS='|' read -r line json args; do
  printf '%s' "$json" >"$work/in.json"
  # shellcheck disable=SC2086
  expect_error "export: $json $args" 1 "${line//@FILE@/$work/in.json}" export "$work/in.json" $args
done <<'ROWS'
@FILE@:1:12: NotImplementedError: QASM 3.0 export does not support gate id 'toffoli'|{"gates": [{"id": "toffoli", "target": [0]}]}
ValueError: Register name 'pi' is a reserved word|{"gates": [{"id": "h", "target": [0]}]}|--lower --qreg-name pi
ValueError: Register name 'a' is declared twice|{"gates": [{"id": "h", "target": [0]}]}|--lower --qregs a:1,a:1
@FILE@:1:12: ValueError: 'h' takes no parameters, got 1|{"gates": [{"id": "h", "target": [0], "parameter": 0.5}]}|--lower
@FILE@:1:12: ValueError: Parameter 'pi; x q[0]' is not one expression|{"gates": [{"id": "rz", "target": [0], "parameter": "pi; x q[0]"}]}|--lower
@FILE@:1:12: ValueError: Condition bits [0, 2] are not one register, one bit or a run of one register's bits|{"gates": [{"id": "if", "target": [], "condition": {"bits": [0, 2], "compare": "==", "value": 1}, "block_gate_sequence": []}]}|--lower
@FILE@:1:201: NotImplementedError: QASM 3.0 export does not support gate id 'nosuch'|{"gates": [{"id": "if", "target": [0], "condition": {"bits": [0], "compare": "==", "value": 1}, "block_gate_sequence": [{"id": "x", "target": [0]}], "else_gate_sequence": [{"id": "y", "target": [0]}, {"id": "nosuch", "target": [0]}]}]}|--lower
@FILE@:1:12: NotImplementedError: QASM 3.0 export does not support gate id 'if'|{"gates": [{"id": "if", "target": [0], "condition": {"bits": [0], "compare": "==", "value": 1}, "block_gate_sequence": [{"id": "x", "target": [0]}], "else_gate_sequence": [{"id": "measure", "target": [0], "classical_target": [3]}]}]}
@FILE@:1:12: ValueError: cx requires at least one control qubit|{"gates": [{"id": "cx", "target": [1]}]}
@FILE@:1:12: ValueError: Index -1 is outside declared registers|{"gates": [{"id": "h", "target": [-1]}]}
ValueError: Register declarations cover 1 indices, but 2 are required|{"gates": [{"id": "h", "target": [1]}]}|--qregs=a:1
ValueError: Register 'anc' must have positive size|{"gates": [{"id": "h", "target": [1]}]}|--qregs data:2,anc:0
@FILE@:1:12: ValueError: Missing parameters|{"gates": [{"id": "u", "target": [1], "control": [0], "control_state": [1]}]}
@FILE@:1:12: NotImplementedError: QASM 3.0 export does not support arbitrary 'unitary' gates. Transpile the circuit before exporting.|{"gates": [{"id": "unitary", "target": [0], "matrix": [[[1, 0]]]}]}
@FILE@:1:12: ValueError: QASM gate parameter must be finite; got inf|{"gates": [{"id": "rx", "target": [0], "parameter": Infinity}]}
@FILE@:1:12: ValueError: QASM gate parameter must be finite; got -inf|{"gates": [{"id": "rx", "target": [0], "parameter": [-Infinity]}]}
@FILE@:1:12: ValueError: QASM gate parameter must be finite; got nan|{"gates": [{"id": "u", "target": [0], "parameter": [0.5, NaN, 0]}]}
@FILE@:1:12: ValueError: QASM gate parameter must be finite; got inf|{"gates": [{"id": "rz", "target": [0], "parameter": 1e999}]}
@FILE@:1:12: ValueError: QASM gate parameter must be finite; got -inf|{"gates": [{"id": "rz", "target": [0], "parameter": -1E+400}]}
@FILE@:1:12: ValueError: QASM gate parameter must be finite; got [[inf+0.0j]]|{"gates": [{"id": "rz", "target": [0], "parameter": {"array": [[[Infinity, 0]]]}}]}
ROWS

# ---------------------------------------------------------------- import: the JSON form
printf '%s\n' 'OPENQASM 3.0;' 'include "stdgates.inc";' 'qubit[2] q;' 'bit[2] c;' 'h q[0];' \
  'cx q[0], q[1];' 'c[0] = measure q[0];' >"$work/small.qasm"
small_json='{
  "num_qubits": 2,
  "gates": [
    {"id": "h", "target": [0], "control": [], "control_state": [], "parameter": null, "matrix": null},
    {"id": "cx", "target": [1], "control": [0], "control_state": [1], "parameter": null, "matrix": null},
    {"id": "measure", "target": [0], "classical_target": [0], "name": "measure"}
  ],
  "qasm_quantum_registers": [["q", 2]],
  "qasm_classical_registers": [["c", 2]],
  "qasm_measure_map": [[0, 0]]
}
'
expect_output "import: records, registers and measure map" "$small_json" import "$work/small.qasm"
input=$work/small.qasm
expect_output "import: standard input" "$small_json" import
input=

printf 'qubit[3] q;\nrz(pi/2) q[2];\nU(0.5, 1, 2) q[0];\n' >"$work/params.qasm"
expect_output "import: parameters as shortest doubles, no classical keys" '{
  "num_qubits": 3,
  "gates": [
    {"id": "rz", "target": [2], "control": [], "control_state": [], "parameter": [1.5707963267948966], "matrix": null},
    {"id": "u", "target": [0], "control": [], "control_state": [], "parameter": [0.5, 1.0, 2.0], "matrix": null}
  ],
  "qasm_quantum_registers": [["q", 3]]
}
' import "$work/params.qasm"

printf 'qubit[3] q;\ngate g a, b {\n  cx a, b;\n  h b;\n}\nctrl @ g q[1], q[2], q[0];\n' >"$work/block.qasm"
expect_output "import: block records nest" '{
  "num_qubits": 3,
  "gates": [
    {"id": "block", "target": [2, 0], "control": [1], "control_state": [1], "block_gate_sequence": [
      {"id": "cx", "target": [1], "control": [0], "control_state": [1], "parameter": null, "matrix": null},
      {"id": "h", "target": [1], "control": [], "control_state": [], "parameter": null, "matrix": null}
    ], "name": "g", "matrix": null}
  ],
  "qasm_quantum_registers": [["q", 3]]
}
' import "$work/block.qasm"

printf '{"gates": [{"id": "sqrty", "target": [0]}]}' >"$work/sqrty.json"
"$tool" export "$work/sqrty.json" >"$work/sqrty.qasm" 2>/dev/null
run import "$work/sqrty.qasm"
assert "import: recognised generated gate keeps its matrix, no parameter" eval \
  '[[ $status -eq 0 ]] && grep -q "^    {\"id\": \"sqrty\", \"target\": \[0\], \"control\": \[\], \"control_state\": \[\], \"matrix\": \[\[\[" "$work/out"'

# import_fails NAME PLACE LINE TEXT: the error line of the fixed importer names the file
# as given and the place in it, and standard input as <stdin>.
import_fails() {
  local name=$1 place=$2 line=$3 text=$4
  printf '%s' "$text" >"$work/bad.qasm"
  expect_error "import --strict: $name" 1 "$work/bad.qasm:$place: $line" import --strict "$work/bad.qasm"
  input=$work/bad.qasm
  expect_error "import --strict: $name (stdin)" 1 "<stdin>:$place: $line" import --strict
  input=
}
import_fails "identity spelled i" 2:1 "ValueError: OpenQASM 3.0 identity gate is 'id', not 'i'." \
  $'qubit[1] q;\ni q[0];\n'
import_fails "unbalanced parentheses" 2:6 "ValueError: Unbalanced parentheses" $'qubit[1] q;\nrx(1)) q[0];\n'
import_fails "control count" 3:3 "ValueError: Control count mismatch for 'h q[0], q[1]': ctrl_cnt=1, mods=[]" \
  $'qubit[2] q;\n/* c */\n  h q[0], q[1];\n'
printf 'qubit[1] q;\nh q[0]; // \xc3\x28\n' >"$work/bad.qasm"
expect_error_like "import: broken UTF-8" 1 "$work/bad.qasm:2:12: ValueError: Input is not valid UTF-8: *" \
  import "$work/bad.qasm"

# A chain of definitions far deeper than the nesting limit ends in one clear error (or
# imports), and never takes the process down.
python3 -c "
n = 100000
print('qubit[1] q;')
print('gate g0 a { h a; }')
for k in range(1, n):
    print(f'gate g{k} a {{ g{k - 1} a; }}')
print(f'g{n - 1} q[0];')" >"$work/chain.qasm"
run import "$work/chain.qasm"
assert "import: 100000 nested definitions" eval \
  '[[ $status -eq 0 ]] && stderr_empty || { [[ $status -eq 1 ]] && stdout_empty && stderr_line -g "*Error: *"; }'

# Forty definitions, each calling the one before twice: a small program whose blocks,
# written out at every use, would be 2^39 records. Refused at once, not after gigabytes.
python3 -c "
print('qubit[1] q;')
print('gate g0 a { h a; }')
for k in range(1, 40):
    print(f'gate g{k} a {{ g{k - 1} a; g{k - 1} a; }}')
print('g39 q[0];')" >"$work/doubling.qasm"
expect_error "import: shared blocks too large for the JSON form" 1 \
  "ValueError: Gate sequence too large for the JSON form: more than 2147483648 bytes" \
  import "$work/doubling.qasm"

# ---------------------------------------------------------------- convert
bell_text="$header"$'\nqubit[2] q;\nbit[2] c;\n\nh q[0];\ncx q[0], q[1];\nmeasure q[0] -> c[0];\nmeasure q[1] -> c[1];\n'
expect_output "convert: bell" "$bell_text" convert "$src/examples/bell.qasm"
expect_output "convert --flat: bell" "$bell_text" convert --flat "$src/examples/bell.qasm"
input=$src/examples/bell.qasm
expect_output "convert: standard input" "$bell_text" convert
input=

teleport_def=$'\ngate block_0 a0, a1 {\n  h a0;\n  cx a0, a1;\n}\n'
expect_output "convert: teleport keeps its registers" "$header$teleport_def"$'
qubit[1] flag;
qubit[3] q;
bit[2] c;
bit[1] received;

h flag[0];
negctrl @ ry(1.5707963267949) flag[0], q[0];
ctrl @ rx(1.5707963267949) flag[0], q[0];
block_0 q[1], q[2];
cx q[0], q[1];
h q[0];
ctrl @ x q[1], q[2];
ctrl @ z q[0], q[2];
measure q[0] -> c[0];
measure q[1] -> c[1];
measure q[2] -> received[0];
' convert --strict "$src/examples/teleport.qasm"
teleport_flat="$header$teleport_def"$'
qubit[4] q;
bit[3] c;

h q[0];
negctrl @ ry(1.5707963267949) q[0], q[1];
ctrl @ rx(1.5707963267949) q[0], q[1];
block_0 q[2], q[3];
cx q[1], q[2];
h q[1];
ctrl @ x q[2], q[3];
ctrl @ z q[1], q[3];
measure q[1] -> c[0];
measure q[2] -> c[1];
measure q[3] -> c[2];
'
expect_output "convert --flat: teleport" "$teleport_flat" convert "$src/examples/teleport.qasm" --flat --strict

# The JSON form carries everything export needs: import then export writes what
# convert --flat writes (export leaves the imported registers aside), and convert's
# output converts to itself; in both modes.
for mode in --strict --lower; do
  for example in bell teleport teleport_feedforward; do
    [[ $mode == --strict && $example == teleport_feedforward ]] && continue
    export_mode=
    [[ $mode == --lower ]] && export_mode=--lower
    "$tool" import $mode "$src/examples/$example.qasm" >"$work/$example.json" 2>/dev/null
    "$tool" convert $mode --flat "$src/examples/$example.qasm" >"$work/$example.flat" 2>/dev/null
    run export $export_mode "$work/$example.json"
    assert "round trip $mode: import | export = convert --flat ($example)" eval \
      '[[ $status -eq 0 && -s $work/out ]] && cmp -s "$work/out" "$work/$example.flat"'
    "$tool" convert $mode "$src/examples/$example.qasm" >"$work/$example.once" 2>/dev/null
    run convert $mode "$work/$example.once"
    assert "round trip $mode: convert is a fixed point ($example)" eval \
      '[[ $status -eq 0 && -s $work/out ]] && cmp -s "$work/out" "$work/$example.once"'
    "$tool" export $export_mode "$work/$example.json" 2>/dev/null |
      "$tool" import $mode >"$work/$example.again.json" 2>/dev/null
    "$tool" export $export_mode "$work/$example.again.json" >"$work/$example.again" 2>/dev/null
    run export $export_mode "$work/$example.json"
    assert "round trip $mode: export, import, export reaches a fixed point ($example)" eval \
      '[[ $status -eq 0 && -s $work/out ]] && cmp -s "$work/out" "$work/$example.again"'
  done
done

printf 'qubit[1] q;\ni q[0];\n' >"$work/bad.qasm"
expect_error "convert --strict: import errors pass through" 1 \
  "$work/bad.qasm:2:1: ValueError: OpenQASM 3.0 identity gate is 'id', not 'i'." \
  convert --strict "$work/bad.qasm"
printf 'qubit[1] q;\nrx(1/0) q[0];\n' >"$work/bad.qasm"
expect_error_like "convert --strict: evaluator errors keep their kind" 1 \
  "$work/bad.qasm:2:4: ZeroDivisionError: *" convert --strict "$work/bad.qasm"

# ---------------------------------------------------------------- lowering
loop_program=$'input float theta;\nqubit[2] q;\nfor int i in [0:1] rx(theta * i) q[i];\nbarrier q;\n'
input="$work/loop.qasm"
printf '%s' "$loop_program" >"$input"
expect_output "lower: standard input with an input value" \
  "$header"$'qubit[2] q;\nrx(0.0) q[0];\nrx(0.5) q[1];\n' lower --input theta=0.5
expect_output "convert --lower" "$header"$'\nqubit[2] q;\n\nrx(0.0) q[0];\nrx(0.5) q[1];\n' \
  convert --lower --input=theta=0.5 "$work/loop.qasm"
run import --lower --input theta=0.5 "$work/loop.qasm"
assert "import --lower" eval '[[ $status -eq 0 ]] && grep -q "\"rx\"" "$work/out"'
unset input
# Teleportation with measured corrections: conditioned records, which the importer without
# --lower cannot read.
run import --lower "$src/examples/teleport_feedforward.qasm"
assert "import --lower: teleport_feedforward's corrections" eval '[[ $status -eq 0 ]] &&
  grep -q "{\"id\": \"if\", \"target\": \[2\], \"condition\": {\"bits\": \[1\], \"compare\": \"==\", \"value\": 1}" "$work/out" &&
  grep -q "\"condition\": {\"bits\": \[0\], \"compare\": \"==\", \"value\": 1}" "$work/out"'
run import --strict "$src/examples/teleport_feedforward.qasm"
assert "import --strict: teleport_feedforward is beyond the fixed subset" eval \
  '[[ $status -eq 1 ]] && stdout_empty'
# Without a mode, import and convert take the language path, and convert writes the full
# language: the same output as with --lower, byte for byte.
for example in teleport_feedforward teleport lowering/qft errors/off_by_one; do
  for command in import convert; do
    "$tool" $command --lower "$src/examples/$example.qasm" >"$work/lower.out" 2>"$work/lower.err"
    lower_status=$?
    run $command "$src/examples/$example.qasm"
    assert "$command without a mode is --lower ($example)" eval \
      '[[ $status -eq $lower_status ]] && cmp -s "$work/out" "$work/lower.out" && cmp -s "$work/err" "$work/lower.err"'
  done
done
expect_output "convert without a mode: a loop with an input" \
  "$header"$'\nqubit[2] q;\n\nrx(0.0) q[0];\nrx(0.5) q[1];\n' convert --input theta=0.5 "$work/loop.qasm"
# A float input given no value stays free; one whose value lowering needs is refused there.
expect_output "lower: a float input without a value stays free" \
  "$header"$'input float[64] theta;\nqubit[2] q;\nrx(theta*0) q[0];\nrx(theta*1) q[1];\n' \
  lower "$work/loop.qasm"
printf 'input float theta;\nqubit q;\nif (theta > 0) x q;\n' >"$work/decides.qasm"
expect_error "import without a mode: the language path's error and place" 1 \
  "$work/decides.qasm:3:5: ValueError: No value given for input 'theta'" import "$work/decides.qasm"
expect_error "lower: a missing input is the program's error, at its place" 1 \
  "$work/decides.qasm:3:5: ValueError: No value given for input 'theta'" lower "$work/decides.qasm"

# --input NAME=VALUE: VALUE a constant expression, read where NAME is declared (line 2) and
# typed by its declaration. Each row: type|VALUE|the rx line it makes, or the error line
# (@FILE@ the program's file).
while IFS='|' read -r type value outcome; do
  printf 'qubit q;\ninput %s v;\nrx(v) q;\n' "$type" >"$work/input.qasm"
  if [[ $outcome == rx* ]]; then
    expect_output "--input $type v=$value" "${header}qubit q;"$'\n'"$outcome"$'\n' \
      lower --input "v=$value" "$work/input.qasm"
  else
    expect_error "--input $type v=$value" 1 "${outcome//@FILE@/$work/input.qasm}" \
      lower --input "v=$value" "$work/input.qasm"
  fi
done <<'ROWS'
bool|true|rx(1.0) q;
bool|false|rx(0.0) q;
bool|1|rx(1.0) q;
bool|2 > 1|rx(1.0) q;
float|pi/2|rx(1.5707963267948966) q;
float|-1.5e-3|rx(-0.0015) q;
float|0.5|rx(0.5) q;
int|2*3|rx(6.0) q;
int|7/2|rx(3.0) q;
int|0x10|rx(16.0) q;
bit[2]|"10"|rx(2.0) q;
angle|-pi/2|rx(4.71238898038469) q;
bool|yes|@FILE@:2:1: ValueError: Input 'v': Undeclared name 'yes'
bool|2|@FILE@:2:1: ValueError: Input 'v' is 2, not a whole number from 0 to 1 as bool needs
int|1.5|@FILE@:2:1: ValueError: Input 'v' is 1.5, not a whole number from -9223372036854775808 to 9223372036854775807 as int needs
float|big|@FILE@:2:1: ValueError: Input 'v': Undeclared name 'big'
float|pi/|@FILE@:2:1: ValueError: Input 'v': Expected an expression, found end of input
float|1/0.0|@FILE@:2:1: ZeroDivisionError: Input 'v': float division by zero
float|1 2|@FILE@:2:1: ValueError: Input 'v': Expected the end of the value, found '2'
ROWS
expect_error "--input a name the program does not declare" 1 \
  "ValueError: No input 'phi' is declared in the program" \
  lower --input v=1 --input phi=0.5 "$work/input.qasm"
expect_error "--input the last value of a name counts" 1 \
  "$work/input.qasm:2:1: ValueError: Input 'v': Undeclared name 'x'" \
  lower --input v=1 --input v=x "$work/input.qasm"
expect_error "convert --lower --input a name the program does not declare" 1 \
  "ValueError: No input 'theta' is declared in the program" \
  convert --lower --input theta=1 "$src/examples/bell.qasm"

# ---------------------------------------------------------------- included files
# Beside the including file first (FILE's folder, then each file's own), then the folders
# of -I / --include-path in the order given.
mkdir -p "$work/inc/lib" "$work/inc/first" "$work/inc/second"
printf 'include "inner.inc";\ngate twist(t) a { rz(t) a; inner a; }\n' >"$work/inc/lib/gates.inc"
printf 'gate inner a { h a; }\n' >"$work/inc/lib/inner.inc"
printf 'gate shared a { x a; }\n' >"$work/inc/first/shared.inc"
printf 'gate shared a { y a; }\n' >"$work/inc/second/shared.inc"
printf 'gate g a {\n  h a;\n  nosuch a;\n}\n' >"$work/inc/lib/bad.inc"
printf 'include "lib/gates.inc";\ninclude "shared.inc";\nqubit q;\ntwist(0.5) q;\nshared q;\n' \
  >"$work/inc/main.qasm"
printf 'include "lib/bad.inc";\nqubit q;\ng q;\n' >"$work/inc/main_bad.qasm"
included=$'gate inner a {\n  h a;\n}\ngate shared a {\n  x a;\n}\nqubit q;\nrz(0.5) q;\ninner q;\nshared q;\n'
expect_output "lower: -I after the file's own folder" "$header$included" \
  lower "$work/inc/main.qasm" -I "$work/inc/first" -I "$work/inc/second"
expect_output "lower: --include-path in the order given" "${header}${included/x a/y a}" \
  lower --include-path "$work/inc/second" --include-path="$work/inc/first" "$work/inc/main.qasm"
expect_output "lower: -IDIR" "$header$included" lower "-I$work/inc/first" "$work/inc/main.qasm"
run import --lower -I "$work/inc/first" "$work/inc/main.qasm"
assert "import --lower with -I" eval '[[ $status -eq 0 ]] && grep -q "\"inner\"" "$work/out"'
expect_error "lower: an included file not found, at its include" 1 \
  "$work/inc/main.qasm:2:1: ValueError: Include file 'shared.inc' not found" \
  lower "$work/inc/main.qasm"
expect_error "lower: an error in an included file, placed in that file" 1 \
  "$work/inc/lib/bad.inc:3:3: ValueError: Unknown gate 'nosuch'" lower "$work/inc/main_bad.qasm"
# Paths as written: relative to the working folder, joined as the program named them.
cd "$work/inc" || exit 1
expect_error "lower: the included file's path as found" 1 \
  "lib/bad.inc:3:3: ValueError: Unknown gate 'nosuch'" lower main_bad.qasm
cd - >/dev/null || exit 1
# Standard input has no folder: only the search path is looked in.
input="$work/inc/main.qasm"
expect_error "lower: standard input without a search path" 1 \
  "<stdin>:1:1: ValueError: Include file 'lib/gates.inc' not found" lower
expect_output "lower: standard input through the search path" "$header$included" \
  lower -I "$work/inc" -I "$work/inc/first"
unset input
# The output a document shows for COMMAND: the lines of the fenced block after the one
# that holds COMMAND.
shown_output() {
  awk -v command="$1" '
    $0 == command { found = 1; next }
    found && /^```/ { fences++; if (fences == 3) exit; next }
    found && fences == 2 { print }' "$2"
}
cd "$src" || exit 1
# The lowering guide's example of a program with a gate library of its own, as shown there.
command="./build/corvane-qasm3 lower examples/lowering/with_library.qasm"
expect_output "lower: the documented example with a gate library" \
  "$(shown_output "$command" docs/lowering.md)"$'\n' lower examples/lowering/with_library.qasm
command="./build/corvane-qasm3 lower examples/lowering/with_library.qasm | head -n 10"
assert "lower: the README's gate library" eval \
  '[[ "$(shown_output "$command" README.md)" == "$("$tool" lower examples/lowering/with_library.qasm | head -n 10)" ]]'
# The README's free parameters: the QAOA layer lowered with its angles free, converted to
# JSON, then bound by export, each as shown there; binding after converting gives what
# converting with the values gives.
command="./build/corvane-qasm3 lower examples/free/qaoa_layer.qasm"
expect_output "lower: the README's free parameters" "$(shown_output "$command" README.md)"$'\n' \
  lower examples/free/qaoa_layer.qasm
run import --lower examples/free/qaoa_layer.qasm
cp "$work/out" "$work/qaoa.json"
assert "import --lower: free inputs in JSON" \
  grep -q '"qasm_inputs": \[\["gamma", "float\[64\]"\], \["beta", "float\[64\]"\]\]' "$work/qaoa.json"
command="./build/corvane-qasm3 export --input gamma=0.4 --input beta=pi/8 qaoa.json"
bound="$(shown_output "$command" README.md)"$'\n'
expect_output "export --input: the README's binding" "$bound" \
  export --input gamma=0.4 --input beta=pi/8 "$work/qaoa.json"
run import --lower --input gamma=0.4 --input beta=pi/8 examples/free/qaoa_layer.qasm
cp "$work/out" "$work/qaoa_valued.json"
expect_output "import --lower with the values: the README's binding" "$bound" \
  export "$work/qaoa_valued.json"
expect_error "export --input: a free input without a value" 1 \
  "ValueError: No value given for input 'beta'" \
  export --input gamma=0.4 "$work/qaoa.json"
# convert and export --lower declare the free inputs: their programs read back with the
# same free parameters and convert to themselves.
for example in free/qaoa_layer lowering/qft; do
  "$tool" import "examples/$example.qasm" >"$work/free.json" 2>/dev/null
  "$tool" convert "examples/$example.qasm" >"$work/free.qasm" 2>/dev/null
  run import "$work/free.qasm"
  assert "convert: $example's free inputs read back" eval \
    '[[ $status -eq 0 ]] && cmp -s "$work/out" "$work/free.json" && grep -q "qasm_inputs" "$work/out"'
  run convert "$work/free.qasm"
  assert "convert: $example's free inputs, a fixed point" eval \
    '[[ $status -eq 0 ]] && cmp -s "$work/out" "$work/free.qasm"'
  run export --lower "$work/free.json"
  assert "export --lower: $example's free inputs declared" eval \
    '[[ $status -eq 0 ]] && cmp -s "$work/out" "$work/free.qasm"'
done
# The README's quick start: its error example gives the line shown there.
# The README's dynamic circuit, converted end to end, as shown there.
command="./build/corvane-qasm3 convert examples/teleport_feedforward.qasm"
expect_output "convert: the README's teleportation with measured corrections" \
  "$(shown_output "$command" README.md)"$'\n' convert examples/teleport_feedforward.qasm
# Its JSON form exports as convert writes it, and reads back to the same records.
"$tool" import --lower examples/teleport_feedforward.qasm >"$work/feedforward.json" 2>/dev/null
expect_output "export --lower: teleport_feedforward from its JSON form" \
  "$(shown_output "$command" README.md)"$'\n' export --lower "$work/feedforward.json" \
  --qregs q:3 --cregs c:2,received:1
"$tool" convert --lower examples/teleport_feedforward.qasm >"$work/feedforward.qasm" 2>/dev/null
run import --lower "$work/feedforward.qasm"
assert "convert --lower: teleport_feedforward reads back to the same records" eval \
  '[[ $status -eq 0 ]] && cmp -s "$work/out" "$work/feedforward.json"'
# The README's quick start: its error example gives the line shown there.
command="./build/corvane-qasm3 convert examples/errors/off_by_one.qasm"
expect_error "convert: the README's error example" 1 "$(shown_output "$command" README.md)" \
  convert examples/errors/off_by_one.qasm
cd - >/dev/null || exit 1

echo "$passed passed, $failed failed"
((failed == 0))
