"""The two operations with host values: results, layout attributes, errors and type errors."""

from pathlib import Path

import numpy as np
import pytest

from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence.gatesequence import GateSequence
from corvane.backend.qasm import qasm3
from helpers import EXAMPLES_DIR, PROGRAMS_DIR, sequence_value

HEADER = 'OPENQASM 3.0;\ninclude "stdgates.inc";\n'


def sequence(num_qubits, *gates):
    gs = GateSequence(num_qubits)
    for gate in gates:
        gs.add_gate(gate)
    return gs


def bell_sequence():
    return sequence(2, QuantumGate(id="h", target=[0]),
                    QuantumGate(id="cnot", target=[1], control=[0], control_state=[1]))


def measured_sequence():
    return sequence(3, QuantumGate(id="x", target=[2]),
                    QuantumGate(id="measure", target=[2], classical_target=[0]))


def test_module_docstring():
    assert qasm3.__doc__ == "OpenQASM 3.0 ↔ GateSequence bidirectional converter."


# Programs with blocks on measured bits, which only the language path reads.
DYNAMIC_EXAMPLES = ["teleport_feedforward.qasm"]
EXAMPLES = sorted(p for p in EXAMPLES_DIR.glob("*.qasm") if p.name not in DYNAMIC_EXAMPLES)
assert EXAMPLES, "the shipped examples are missing"


@pytest.mark.parametrize("name", DYNAMIC_EXAMPLES)
def test_dynamic_examples_lower_to_conditioned_records(name):
    text = (EXAMPLES_DIR / name).read_text(encoding="utf-8")
    gs = qasm3.lower_to_gate_sequence(text)
    conditioned = [g for g in gs.data() if g.condition is not None]
    assert conditioned and all(g.id == "if" for g in conditioned)
    lowered = qasm3.lower_qasm3(text)
    assert qasm3.lower_qasm3(lowered) == lowered
    assert qasm3.lower_to_gate_sequence(lowered).data() == gs.data()


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.name)
def test_shipped_examples_round_trip(path):
    first = qasm3.qasm3_to_gate_sequence(path.read_text(encoding="utf-8"))
    layout = {"qregs": first._qasm_quantum_registers,
              "cregs": getattr(first, "_qasm_classical_registers", None)}
    text = qasm3.gate_sequence_to_qasm3(first, **layout)
    second = qasm3.qasm3_to_gate_sequence(text)
    assert qasm3.gate_sequence_to_qasm3(second, **layout) == text
    assert second._qasm_quantum_registers == first._qasm_quantum_registers
    assert getattr(second, "_qasm_measure_map", None) == getattr(first, "_qasm_measure_map", None)


def test_arguments_by_position_and_by_name_agree():
    gs = measured_sequence()
    by_name = qasm3.gate_sequence_to_qasm3(gs, qregs=[("data", 2), ("anc", 1)], creg_name="m",
                                           num_clbits=2)
    by_position = qasm3.gate_sequence_to_qasm3(gs, "q", "m", 2, [("data", 2), ("anc", 1)], None)
    assert by_name == by_position
    assert "qubit[2] data;\nqubit[1] anc;\nbit[2] m;\n" in by_name
    assert "measure anc[0] -> m[0];" in by_name
    # tuples serve as well as lists for register layouts
    assert qasm3.gate_sequence_to_qasm3(gs, qregs=(("data", 2), ("anc", 1)), num_clbits=2,
                                        creg_name="m") == by_name


@pytest.mark.parametrize("program, quantum, classical, measure_map", [
    ("qubit[2] q;\nh q[0];", [("q", 2)], None, None),
    ("qubit[2] q;\nbit[2] c;", [("q", 2)], [("c", 2)], []),
    ("qubit[2] q;\nbit[2] c;\nh q[0];\ncx q[0], q[1];\nc[0] = measure q[0];",
     [("q", 2)], [("c", 2)], [(0, 0)]),
    ("qubit[1] a;\nqubit[2] b;\nbit[1] c;\nbit[2] d;\nmeasure b[1] -> d[0];",
     [("a", 1), ("b", 2)], [("c", 1), ("d", 2)], [(2, 1)]),
])
def test_layout_attributes_are_set_exactly_when_imported(program, quantum, classical, measure_map):
    gs = qasm3.qasm3_to_gate_sequence(program)
    assert gs._qasm_quantum_registers == quantum
    assert all(type(pair) is tuple for pair in gs._qasm_quantum_registers)
    assert hasattr(gs, "_qasm_classical_registers") == (classical is not None)
    assert hasattr(gs, "_qasm_measure_map") == (measure_map is not None)
    if classical is not None:
        assert gs._qasm_classical_registers == classical
        assert gs._qasm_measure_map == measure_map
        assert all(type(pair) is tuple for pair in gs._qasm_measure_map)


def test_imported_records_are_tuples_and_matrices_complex_arrays():
    gs = qasm3.qasm3_to_gate_sequence(
        "qubit[2] q;\nbit[1] c;\n"
        "gate pair a, b { h a; cx a, b; }\n"
        "ctrl @ rx(pi/2) q[0], q[1];\n"
        "unitary(0, 0, 1, 0, 1, 0, 0, 0) q[1];\n"
        "pair q[0], q[1];\n"
        "measure q[1] -> c[0];\n")
    rx, unitary, block, measure = gs.data()
    assert rx.parameter == (np.pi / 2,) and type(rx.parameter) is tuple
    assert (rx.target, rx.control, rx.control_state) == ((1,), (0,), (1,))
    assert unitary.matrix.dtype == np.complex128
    np.testing.assert_array_equal(unitary.matrix, [[0, 1], [1, 0]])
    assert type(block.block_gate_sequence) is tuple and block.name == "pair"
    assert [g.id for g in block.block_gate_sequence] == ["h", "cx"]
    assert block.matrix is None
    assert (measure.classical_target, measure.name, measure.parameter) == ((0,), "measure", None)


# Parameters keep their kind through export: absent and empty lists both write no list,
# tuples and lists both write their entries, and integers, truth values and floats their
# numeric value.
@pytest.mark.parametrize("parameter, written", [
    (None, ""), ([], ""), ((), ""), (0.5, "(0.5)"), ([0.5], "(0.5)"), ((0.5,), "(0.5)"),
    (np.float64(0.5), "(0.5)"), (2, "(2)"), (True, "(1)"), ("pi/4", "(pi/4)"),
    (np.array([[0.25]]), "(0.25)"),
])
def test_parameter_kinds_export(parameter, written):
    text = qasm3.gate_sequence_to_qasm3(sequence(1, QuantumGate(id="rx", target=[0],
                                                                  parameter=parameter)))
    assert text.endswith(f"\nrx{written} q[0];\n")
    if not written:
        needs_one = sequence(2, QuantumGate(id="rzz", target=[0, 1], parameter=parameter))
        with pytest.raises(ValueError, match="^Missing parameters$"):
            qasm3.gate_sequence_to_qasm3(needs_one)


def one_gate(**record):
    return sequence(2, QuantumGate(**record))


# Every error kind of the converter arrives as Python's built-in exception of that name,
# with the converter's exact message; values from Python reach the checks unchanged. A text
# is imported (the kinds the folder of test programs does not reach), a sequence exported.
@pytest.mark.parametrize("given, arguments, kind, message", [
    (measured_sequence(), {"qregs": [("a", 2), ("anc", 0)]},
     ValueError, "Register 'anc' must have positive size"),
    (measured_sequence(), {"qregs": [("a", 2)]},
     ValueError, "Register declarations cover 2 indices, but 3 are required"),
    (one_gate(id="h", target=[-1]), {}, ValueError, "Index -1 is outside declared registers"),
    (one_gate(id="rx", target=[0], parameter=float("inf")), {},
     ValueError, "QASM gate parameter must be finite; got inf"),
    (one_gate(id="rzz", target=[0, 1], parameter=(0.1, 0.2)), {},
     ValueError, "Expected 1 params, got 2"),
    (one_gate(id="reset", target=[0]), {},
     NotImplementedError, "QASM 3.0 export does not support gate id 'reset'"),
    (one_gate(id="unitary", target=[0], matrix=np.eye(2)), {}, NotImplementedError,
     "QASM 3.0 export does not support arbitrary 'unitary' gates. Transpile the circuit before "
     "exporting."),
    ("{ " + "gate " * 2_000_001, {}, RuntimeError,
     "Too many iterations while parsing gate definitions — possible malformed QASM."),
    ("qubit[1] q;\nrz(1" + "0" * 400 + " + 1) q[0];", {}, OverflowError,
     "int too large to convert to float"),
])
def test_error_kinds_and_messages(given, arguments, kind, message):
    with pytest.raises(Exception) as error:
        if isinstance(given, str):
            qasm3.qasm3_to_gate_sequence(given)
        else:
            qasm3.gate_sequence_to_qasm3(given, **arguments)
    assert type(error.value) is kind and str(error.value) == message


def with_foreign_record():
    gs = bell_sequence()
    gs.data().append("h q[0];")
    return gs


# Arguments of the wrong kind are refused before any conversion starts.
@pytest.mark.parametrize("arguments, message", [
    ({"qreg_name": 3}, "'qreg_name' must be str, not int"),
    ({"creg_name": None}, "'creg_name' must be str, not NoneType"),
    ({"num_clbits": "2"}, "'num_clbits' must be an integer, not str"),
    ({"num_clbits": 1.0}, "'num_clbits' must be an integer, not float"),
    ({"qregs": "q"}, "'qregs' must be a list of (name, size) pairs, not str"),
    ({"cregs": {"c": 1}}, "'cregs' must be a list of (name, size) pairs, not dict"),
    ({"qregs": [("q", 1, 1)]}, "'qregs' entries must be (name, size) pairs, not tuple"),
    ({"qregs": ["q2"]}, "'qregs' entries must be (name, size) pairs, not str"),
    ({"qregs": [(1, 2)]}, "'qregs' register name must be str, not int"),
    ({"qregs": [("q", "2")]}, "'qregs' register size must be an integer, not str"),
    ({"full_language": 1}, "'full_language' must be a bool, not int"),
    ({"full_language": None}, "'full_language' must be a bool, not NoneType"),
])
def test_wrong_kinds_of_export_arguments_are_type_errors(arguments, message):
    with pytest.raises(TypeError) as error:
        qasm3.gate_sequence_to_qasm3(bell_sequence(), **arguments)
    assert str(error.value) == "gate_sequence_to_qasm3() argument " + message


@pytest.mark.parametrize("call, message", [
    (lambda: qasm3.qasm3_to_gate_sequence(5),
     "qasm3_to_gate_sequence() argument 'code' must be str, not int"),
    (lambda: qasm3.qasm3_to_gate_sequence(b"qubit[1] q;"),
     "qasm3_to_gate_sequence() argument 'code' must be str, not bytes"),
    (lambda: qasm3.gate_sequence_to_qasm3(5),
     "gate_sequence_to_qasm3() argument 'gs' must be a GateSequence, not int"),
    (lambda: qasm3.gate_sequence_to_qasm3(with_foreign_record()),
     "gate records must be QuantumGate, not str"),
    (lambda: qasm3.gate_sequence_to_qasm3(bell_sequence(), "q", "c", None, None, None, "extra"),
     None),
    (lambda: qasm3.qasm3_to_gate_sequence(), None),
    (lambda: qasm3.lower_qasm3(b"qubit q;"), "lower_qasm3() argument 'text' must be str, not bytes"),
    (lambda: qasm3.lower_qasm3("", [("t", 1)]), "lower_qasm3() argument 'inputs' must be a dict, not list"),
    (lambda: qasm3.lower_qasm3("", {1: 1}), "lower_qasm3() input names must be str, not int"),
    (lambda: qasm3.lower_qasm3("", {"t": b"1"}),
     "lower_qasm3() input values must be a real number or a str, not bytes"),
    (lambda: qasm3.lower_qasm3("", {"t": None}),
     "lower_qasm3() input values must be a real number or a str, not NoneType"),
    (lambda: qasm3.lower_qasm3("", include_paths="lib"),
     "lower_qasm3() argument 'include_paths' must be a list, not str"),
    (lambda: qasm3.lower_qasm3("", include_paths=[1]), "lower_qasm3() include paths must be str, not int"),
    (lambda: qasm3.lower_qasm3("", source_path=b"a.qasm"),
     "lower_qasm3() argument 'source_path' must be str, not bytes"),
    (lambda: qasm3.lower_to_gate_sequence(b"qubit q;"),
     "lower_to_gate_sequence() argument 'text' must be str, not bytes"),
    (lambda: qasm3.lower_to_gate_sequence("", (("t", 1),)),
     "lower_to_gate_sequence() argument 'inputs' must be a dict, not tuple"),
    (lambda: qasm3.lower_to_gate_sequence("", {"t": None}),
     "lower_to_gate_sequence() input values must be a real number or a str, not NoneType"),
    (lambda: qasm3.lower_to_gate_sequence("", include_paths=[b"lib"]),
     "lower_to_gate_sequence() include paths must be str, not bytes"),
    (lambda: qasm3.lower_to_gate_sequence("", source_path=3),
     "lower_to_gate_sequence() argument 'source_path' must be str, not int"),
    (lambda: qasm3.lower_to_gate_sequence("qubit q;", None, ["lib"]), None),
])
def test_wrong_kinds_and_numbers_of_arguments_are_type_errors(call, message):
    with pytest.raises(TypeError) as error:
        call()
    assert message is None or str(error.value) == message


def test_any_object_with_data_and_num_qubits_exports():
    class Circuit:
        _num_qubits = 3

        def data(self):
            return (QuantumGate(id="x", target=[1]),)

    assert qasm3.gate_sequence_to_qasm3(Circuit()).endswith("qubit[3] q;\n\nx q[1];\n")
    assert qasm3.qasm3_to_gate_sequence(code="h q[0];")._num_qubits == 1


def test_export_does_not_change_the_sequence():
    gs = measured_sequence()
    before = sequence_value(gs)
    qasm3.gate_sequence_to_qasm3(gs, num_clbits=4)
    assert sequence_value(gs) == before and not hasattr(gs, "_qasm_quantum_registers")


# Imported records share the importer's storage and an unchanged sequence is exported from
# it directly; every change to the records, the list or the qubit count must still show.
BELL_TEXT = HEADER + "\nqubit[2] q;\n\nh q[0];\ncx q[0], q[1];\n"


@pytest.mark.parametrize("change, declarations, statements", [
    (lambda gs: None, "qubit[2] q;", ["h q[0];", "cx q[0], q[1];"]),
    (lambda gs: setattr(gs.data()[0], "id", "x"), "qubit[2] q;", ["x q[0];", "cx q[0], q[1];"]),
    (lambda gs: setattr(gs.data()[1], "control_state", [0]), "qubit[2] q;",
     ["h q[0];", "negctrl @ x q[0], q[1];"]),
    (lambda gs: gs.data().reverse(), "qubit[2] q;", ["cx q[0], q[1];", "h q[0];"]),
    (lambda gs: gs.data().pop(), "qubit[2] q;", ["h q[0];"]),
    (lambda gs: gs.add_gate(QuantumGate(id="z", target=[1])), "qubit[2] q;",
     ["h q[0];", "cx q[0], q[1];", "z q[1];"]),
    (lambda gs: gs.data().__setitem__(0, QuantumGate(id="y", target=[1])), "qubit[2] q;",
     ["y q[1];", "cx q[0], q[1];"]),
    (lambda gs: gs.data().__setitem__(1, gs.data()[0]), "qubit[2] q;", ["h q[0];", "h q[0];"]),
    (lambda gs: gs.data().clear(), "qubit[2] q;", []),
    (lambda gs: setattr(gs, "_num_qubits", 4), "qubit[4] q;", ["h q[0];", "cx q[0], q[1];"]),
])
def test_changes_to_imported_sequences_are_exported(change, declarations, statements):
    gs = qasm3.qasm3_to_gate_sequence(BELL_TEXT)
    change(gs)
    body = "".join(line + "\n" for line in statements)
    assert qasm3.gate_sequence_to_qasm3(gs) == (
        HEADER + "\n" + declarations + "\n" + ("\n" + body if body else ""))


def test_records_outlive_their_sequence_and_two_imports_are_independent():
    first = qasm3.qasm3_to_gate_sequence(BELL_TEXT)
    second = qasm3.qasm3_to_gate_sequence(BELL_TEXT)
    kept = first.data()[1]
    del first
    second.data()[1].target = [0]
    assert (kept.id, kept.target, kept.control) == ("cx", (1,), (0,))
    assert second.data()[1].target == (0,)
    mixed = sequence(2, kept, second.data()[0])
    assert qasm3.gate_sequence_to_qasm3(mixed).endswith("\ncx q[0], q[1];\nh q[0];\n")


def test_blocks_nested_deeper_than_the_converter_follows_fail_cleanly():
    gate = QuantumGate(id="h", target=[0])
    for _ in range(5000):
        gate = QuantumGate(id="block", target=[0], block_gate_sequence=[gate])
    with pytest.raises(RecursionError, match="^maximum recursion depth exceeded$"):
        qasm3.gate_sequence_to_qasm3(sequence(1, gate))
    with pytest.raises(RecursionError):
        repr(gate)
    del gate  # releasing the nesting must not exhaust the stack either


@pytest.mark.parametrize("program, inputs, kind, message", [
    ("input int t; qubit q; rx(t) q;", {"u": 1}, ValueError, "No value given for input 't'"),
    ("input float t; qubit q; if (t > 0) x q;", None, ValueError, "No value given for input 't'"),
    ("input float t; qubit q; pow(0.5) @ u3(t, 0, 0) q;", None, ValueError,
     "No value given for input 't': pow(0.5) @ u3 needs the gate's matrix"),
    ("input float t; qubit q; rx(t) q;", {"t": 1, "u": 2}, ValueError,
     "No input 'u' is declared in the program"),
    ("qubit q;", {"t": "1/0"}, ValueError, "No input 't' is declared in the program"),
    ("input float t; qubit q; rx(t) q;", {"t": "pi/"}, ValueError,
     "Input 't': Expected an expression, found end of input"),
    ("input int n; qubit q; rx(n) q;", {"n": "1/0"}, ZeroDivisionError,
     "Input 'n': integer division by zero"),
    ("input bool b; qubit q; rx(b) q;", {"b": "2"}, ValueError,
     "Input 'b' is 2, not a whole number from 0 to 1 as bool needs"),
    ("qubit q; cal { }", None, NotImplementedError, "'cal' is not supported"),
])
def test_lowering_error_kinds_and_messages(program, inputs, kind, message):
    with pytest.raises(Exception) as error:
        qasm3.lower_qasm3(program, inputs)
    assert type(error.value) is kind and str(error.value) == message


# An input's value may be the text of a constant expression, typed by the declaration.
@pytest.mark.parametrize("declaration, value, angle", [
    ("float", "pi/2", "1.5707963267948966"),
    ("float", 0.25, "0.25"),
    ("int", "7/2", "3.0"),
    ("int", "2*3", "6.0"),
    ("bool", "true", "1.0"),
    ("bool", True, "1.0"),
    ("bit[3]", '"110"', "6.0"),
])
def test_input_values_as_expressions(declaration, value, angle):
    program = f"input {declaration} v;\nqubit q;\nrx(v) q;\n"
    assert qasm3.lower_qasm3(program, {"v": value}) == HEADER + f"qubit q;\nrx({angle}) q;\n"


# Lowering rewrites what real programs use into the importer's form, with input values.
@pytest.mark.parametrize("inputs", [{"theta": 0.5, "n": 2}, {"theta": 0.5, "n": 2.0}])
def test_lower_with_inputs_then_import(inputs):
    program = "input float theta;\ninput int n;\nqubit[2] q;\nfor int i in [0:n-1] rx(theta * i) q[i];\n"
    lowered = qasm3.lower_qasm3(program, inputs=inputs)
    assert lowered == HEADER + "qubit[2] q;\nrx(0.0) q[0];\nrx(0.5) q[1];\n"
    assert [g.parameter for g in qasm3.qasm3_to_gate_sequence(lowered).data()] == [(0.0,), (0.5,)]


# Files of the program's own: found beside it (source_path) or in the search path, read as if
# written at the include; an error in one carries its path beside line and column.
@pytest.mark.parametrize("program, where, folders, outcome", [
    ('include "gates.inc"; qubit q; flip q;', "main.qasm", [], "gate flip a {\n  x a;\n}\nqubit q;\nflip q;\n"),
    ('include "gates.inc"; qubit q; flip q;', None, ["lib"], "gate flip a {\n  y a;\n}\nqubit q;\nflip q;\n"),
    ('include "gates.inc"; qubit q; flip q;', None, [], (ValueError, "Include file 'gates.inc' not found", None, 1, 1)),
    ('include "bad.inc";', "main.qasm", ["lib"], (ValueError, "Unknown gate 'nosuch'", "lib/bad.inc", 2, 3)),
    ('qubit q;\nnosuch q;', "main.qasm", [], (ValueError, "Unknown gate 'nosuch'", None, 2, 1)),
])
def test_lowering_includes(tmp_path, program, where, folders, outcome):
    (tmp_path / "gates.inc").write_text("gate flip a { x a; }\n")
    (tmp_path / "lib").mkdir()
    (tmp_path / "lib" / "gates.inc").write_text("gate flip a { y a; }\n")
    (tmp_path / "lib" / "bad.inc").write_text("qubit q;\n  nosuch q;\n")
    options = {"include_paths": [tmp_path / folder for folder in folders],
               "source_path": None if where is None else str(tmp_path / where)}
    if isinstance(outcome, str):
        assert qasm3.lower_qasm3(program, **options) == HEADER + outcome
        return
    kind, message, file, line, column = outcome
    with pytest.raises(kind) as error:
        qasm3.lower_qasm3(program, **options)
    assert str(error.value) == message
    shown = None if error.value.file is None else str(Path(error.value.file).relative_to(tmp_path))
    assert (shown, error.value.line, error.value.column) == (file, line, column)


@pytest.mark.parametrize("path", sorted((EXAMPLES_DIR / "lowering").glob("*.qasm")), ids=lambda p: p.name)
def test_lowering_examples_import(path):
    text = path.read_text(encoding="utf-8")
    inputs = {"phase": 0.125} if "input float phase;" in text else None
    lowered = qasm3.lower_qasm3(text, inputs, source_path=path)
    assert qasm3.lower_qasm3(lowered) == lowered
    assert qasm3.qasm3_to_gate_sequence(lowered).data()


def read_with_layout(gs):
    return (sequence_value(gs), getattr(gs, "_qasm_quantum_registers", None),
            getattr(gs, "_qasm_classical_registers", None), getattr(gs, "_qasm_measure_map", None))


def outcome(call):
    try:
        return read_with_layout(call())
    except Exception as error:  # the converter's errors, whichever kind
        return (type(error), str(error), getattr(error, "line", None))


# Reading a program through lowering gives the sequence, layout and measure map that the
# importer reads from the lowered text, and fails where either of the two steps fails.
def is_text(path):
    try:
        path.read_text(encoding="utf-8")
        return True
    except UnicodeDecodeError:
        return False


@pytest.mark.parametrize("path", [path for path in sorted(PROGRAMS_DIR.glob("*.qasm")) if is_text(path)] +
                         sorted((EXAMPLES_DIR / "lowering").glob("*.qasm")), ids=lambda p: p.name)
def test_lower_to_gate_sequence_reads_what_the_lowered_text_imports_as(path):
    text = path.read_text(encoding="utf-8")
    options = {"inputs": {"phase": 0.125}, "source_path": path}
    direct = outcome(lambda: qasm3.lower_to_gate_sequence(text, **options))
    assert direct == outcome(lambda: qasm3.qasm3_to_gate_sequence(qasm3.lower_qasm3(text, **options)))


@pytest.mark.parametrize("program, inputs, expected", [
    ("input float t; qubit[2] q; bit[2] c; for int i in [0:1] rx(t * i) q[i]; c = measure q;",
     {"t": 0.5}, [("rx", (0,), (0.0,)), ("rx", (1,), (0.5,)), ("measure", (0,), None),
                  ("measure", (1,), None)]),
    ("OPENQASM 2.0; include \"qelib1.inc\"; qreg q[2]; u3(0.1, 0.2, 0.3) q[1]; CX q[1], q[0];", None,
     [("u", (1,), (0.1, 0.2, 0.3)), ("cx", (0,), None)]),
])
def test_lower_to_gate_sequence_records(program, inputs, expected):
    gs = qasm3.lower_to_gate_sequence(program, inputs)
    assert [(g.id, g.target, g.parameter) for g in gs.data()] == expected
    assert gs._qasm_quantum_registers == [("q", 2)]


# ------------------------------------------------------------------ free parameters
# A float or angle input given no value stays free: its gate parameters are str entries, the
# sequence lists the inputs, and binding gives what lowering with the values gives.
QAOA = (EXAMPLES_DIR / "free" / "qaoa_layer.qasm").read_text()


@pytest.mark.parametrize("program, parameters, inputs", [
    ("input float t; qubit q; rz(2*t + pi/2) q;", [("2*t + 1.5707963267948966",)],
     [("t", "float[64]")]),
    ("input angle[8] a; input float t; qubit q; U(t, 0, a) q; inv @ rz(a) q;",
     [("t", 0.0, "a"), ("-float(a)",)], [("a", "angle[8]"), ("t", "float[64]")]),
    ("input float t; input float unused; qubit q; gate g(x) r { rx(x / 2) r; } g(t + 1) q;",
     [("(t + 1)/2",)], [("t", "float[64]")]),
])
def test_free_parameters_are_text_entries(program, parameters, inputs):
    gs = qasm3.lower_to_gate_sequence(program)
    assert [g.parameter for g in gs.data()] == parameters
    assert gs._qasm_inputs == inputs
    assert qasm3.free_parameters(gs) == sorted(name for name, _ in inputs)


@pytest.mark.parametrize("values", [
    {"gamma": 0.4, "beta": 0.7},
    {"gamma": 0, "beta": "pi/8"},
    {"gamma": -3, "beta": 1e-9},
])
def test_binding_after_lowering_is_lowering_with_the_values(values):
    free = qasm3.lower_to_gate_sequence(QAOA)
    assert qasm3.free_parameters(free) == ["beta", "gamma"]
    bound = qasm3.bind_parameters(free, values)
    direct = qasm3.lower_to_gate_sequence(QAOA, values)
    assert bound == direct and not hasattr(bound, "_qasm_inputs")
    assert bound._qasm_quantum_registers == [("q", 3)]
    assert free == qasm3.lower_to_gate_sequence(QAOA)  # binding leaves the sequence as it was


@pytest.mark.parametrize("values, kind, message", [
    ({"gamma": 0.4}, ValueError, "No value given for input 'beta'"),
    ({"gamma": 0.4, "beta": 1, "delta": 2}, ValueError,
     "'delta' is not a free parameter of the sequence"),
    ({"gamma": "1/", "beta": 1}, ValueError, "Input 'gamma': Expected an expression, found end of input"),
    ({"gamma": [1], "beta": 1}, TypeError, None),
])
def test_binding_errors(values, kind, message):
    free = qasm3.lower_to_gate_sequence(QAOA)
    with pytest.raises(Exception) as error:
        qasm3.bind_parameters(free, values)
    assert type(error.value) is kind
    if message is not None:
        assert str(error.value) == message


def test_free_parameters_of_any_sequence():
    assert qasm3.free_parameters(GateSequence(1)) == []
    gs = sequence(1, QuantumGate(id="rz", target=[0], parameter=("2*b",)))
    gs._qasm_inputs = [("b", "angle[4]"), ("a", "float[64]")]
    assert qasm3.free_parameters(gs) == ["a", "b"]
    assert qasm3.bind_parameters(gs, {"a": 0, "b": 1.0}).data()[0].parameter == (
        qasm3.lower_to_gate_sequence("input angle[4] b; qubit q; rz(2*b) q;", {"b": 1.0})
        .data()[0].parameter)


def test_full_language_declares_the_free_inputs():
    free = qasm3.lower_to_gate_sequence(QAOA)
    text = qasm3.gate_sequence_to_qasm3(free, qregs=[("q", 3)], full_language=True)
    assert "\ninput float[64] gamma;\ninput float[64] beta;\nqubit[3] q;\n" in text
    assert qasm3.lower_to_gate_sequence(text) == free
    assert "input" not in qasm3.gate_sequence_to_qasm3(free, qregs=[("q", 3)])
    # The declarations follow _qasm_inputs as it stands, also on a lowered sequence.
    free._qasm_inputs = [("gamma", "float[64]"), ("beta", "angle[8]")]
    assert "\ninput angle[8] beta;\n" in qasm3.gate_sequence_to_qasm3(free, full_language=True)
    free._qasm_inputs = [("gamma", "int")]
    with pytest.raises(ValueError, match="^Free input 'gamma' has type 'int', which is no float"):
        qasm3.gate_sequence_to_qasm3(free, full_language=True)


def test_binding_is_importable_from_the_package():
    import corvane
    assert corvane.bind_parameters is qasm3.bind_parameters
    assert corvane.free_parameters is qasm3.free_parameters

