"""The gate model's host values: QuantumGate attributes, GateSequence and gate_set."""

import numpy as np
import pytest

from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence.gatesequence import GateSequence
from corvane.backend.pygates.unitary import gate_set


# Each parameter value, and what reading it back must give: the value itself, with its
# kind kept (absent vs empty, tuple vs list, bool vs int vs float).
@pytest.mark.parametrize("given, expected", [
    (None, None), ([], []), ((), ()), ([0.5], [0.5]), ((0.5,), (0.5,)), (3, 3), (True, True),
    (False, False), (1.0, 1.0), (-0.0, -0.0), ("pi/2", "pi/2"),
    ([1, 2.5, True, "x"], [1, 2.5, True, "x"]), ((1, 2.5, False, "é"), (1, 2.5, False, "é")),
    (np.float64(0.25), 0.25), (np.float32(0.5), 0.5), (np.int64(-7), -7), (np.bool_(True), True),
    ([np.int32(2), np.float64(1.5), np.bool_(False)], [2, 1.5, False]),
    (2**70, float(2**70)), (np.uint64(2**64 - 1), float(2**64 - 1)),
])
def test_parameter_keeps_its_kind(given, expected):
    got = QuantumGate(id="rx", target=[0], parameter=given).parameter
    assert type(got) is type(expected)
    assert got == expected
    if isinstance(got, (list, tuple)):
        assert [type(v) for v in got] == [type(v) for v in expected]


def test_parameter_array_becomes_complex_matrix():
    two_d = QuantumGate(id="u", target=[0], parameter=np.array([[1.0, 2.0]])).parameter
    assert two_d.dtype == np.complex128 and two_d.shape == (1, 2)
    assert two_d.tolist() == [[1 + 0j, 2 + 0j]]
    one_d = QuantumGate(id="u", target=[0], parameter=np.array([0.5, 1.5])).parameter
    assert one_d.shape == (1, 2)


@pytest.mark.parametrize("attribute, given, expected", [
    ("target", [2, 0], (2, 0)), ("target", (np.int64(1),), (1,)), ("target", range(3), (0, 1, 2)),
    ("control", [], ()), ("control_state", [1.0, 0.5, True, 2], (1, 0, 1, 2)),
    ("classical_target", [4], (4,)), ("classical_target", None, None), ("name", "bell", "bell"),
    ("name", None, None), ("id", "s_dag", "s_dag"),
])
def test_attributes_read_back(attribute, given, expected):
    keywords = {"id": "x", "target": [0], attribute: given}
    gate = QuantumGate(**keywords)
    assert getattr(gate, attribute) == expected
    gate2 = QuantumGate(id="x", target=[0])
    setattr(gate2, attribute, given)
    assert getattr(gate2, attribute) == expected


def test_defaults_of_a_bare_record():
    gate = QuantumGate(id="h")
    assert (gate.target, gate.control, gate.control_state) == ((), (), ())
    assert gate.parameter is None and gate.classical_target is None
    assert gate.block_gate_sequence is None and gate.name is None
    assert gate.matrix is None and gate.stored_matrix is None
    assert gate.has_stored_matrix is False


def test_blocks_hold_copies_and_keep_absent_apart_from_empty():
    inner = QuantumGate(id="h", target=[1])
    block = QuantumGate(id="block", target=[1], block_gate_sequence=[inner], name="b")
    inner.id = "x"  # the block keeps what it was given
    (child,) = block.block_gate_sequence
    assert isinstance(block.block_gate_sequence, tuple)
    assert child.id == "h" and child.target == (1,)
    assert QuantumGate(id="block", block_gate_sequence=[]).block_gate_sequence == ()
    assert QuantumGate(id="block").block_gate_sequence is None


def test_matrices_are_complex_arrays_and_settable():
    m = [[0, 1], [1, 0]]
    gate = QuantumGate(id="unitary", target=[0], matrix=m)
    assert gate.matrix.dtype == np.complex128 and gate.matrix.tolist() == m
    assert not gate.has_stored_matrix
    gate.stored_matrix = np.eye(2)
    assert gate.has_stored_matrix and gate.stored_matrix.dtype == np.complex128
    gate.has_stored_matrix = True  # already true: no change
    gate.has_stored_matrix = False
    assert not gate.has_stored_matrix and gate.stored_matrix is None
    with pytest.raises(ValueError, match="once stored_matrix is set"):
        gate.has_stored_matrix = True
    # Keywords have no order: the flag is checked against the whole record.
    for keywords in ({"stored_matrix": m, "has_stored_matrix": True},
                     {"has_stored_matrix": True, "stored_matrix": m}, {"stored_matrix": m}):
        assert QuantumGate(id="unitary", target=[0], **keywords).stored_matrix.tolist() == m
    for keywords in ({"stored_matrix": m, "has_stored_matrix": False},
                     {"has_stored_matrix": False, "stored_matrix": m}):
        assert QuantumGate(id="unitary", target=[0], **keywords).stored_matrix is None
    with pytest.raises(ValueError, match="^has_stored_matrix can only be true once stored_matrix"):
        QuantumGate(id="unitary", has_stored_matrix=True, matrix=m)


@pytest.mark.parametrize("keywords, message", [
    ({"target": [0]}, "QuantumGate() missing required keyword argument: 'id'"),
    ({"id": "h", "qubits": [0]}, "QuantumGate() got an unexpected keyword argument 'qubits'"),
    ({"id": 5}, "QuantumGate id must be str, not int"),
    ({"id": "h", "target": 0}, "QuantumGate target must be a sequence of integers, not int"),
    ({"id": "h", "target": "01"}, "QuantumGate target must be a sequence of integers, not str"),
    ({"id": "h", "target": None}, "QuantumGate target must be a sequence of integers, not NoneType"),
    ({"id": "h", "control": [0.5]}, "QuantumGate control entry must be an integer, not float"),
    ({"id": "h", "name": 3}, "QuantumGate name must be str, not int"),
    ({"id": "h", "parameter": object()},
     "parameter must be None, a number, str, a list, a tuple or a numpy array, not object"),
    ({"id": "h", "parameter": 1j},
     "parameter must be None, a number, str, a list, a tuple or a numpy array, not complex"),
    ({"id": "h", "parameter": [[1]]}, "parameter entries must be numbers or str, not list"),
    ({"id": "h", "parameter": [None]}, "parameter entries must be numbers or str, not NoneType"),
    ({"id": "block", "block_gate_sequence": 3},
     "QuantumGate block_gate_sequence must be a sequence of QuantumGate, not int"),
    ({"id": "block", "block_gate_sequence": ["h"]},
     "QuantumGate block_gate_sequence entries must be QuantumGate, not str"),
])
def test_wrong_kinds_of_record_values_are_type_errors(keywords, message):
    with pytest.raises(TypeError) as error:
        QuantumGate(**keywords)
    assert message in str(error.value)


def test_gate_sequence_holds_one_list_and_wrong_values_are_refused():
    gs = GateSequence(3)
    assert gs._num_qubits == 3 and gs.data() == []
    gate = QuantumGate(id="h", target=[0])
    gs.add_gate(gate)
    assert gs.data() is gs.data() and gs.data()[0] is gate
    for name in ("_qasm_quantum_registers", "_qasm_classical_registers", "_qasm_measure_map"):
        assert not hasattr(gs, name)
    for call, kind in [(lambda: GateSequence("2"), TypeError),
                       (lambda: GateSequence(2.0), TypeError),
                       (lambda: GateSequence(-1), ValueError),
                       (lambda: gs.add_gate("h"), TypeError),
                       (lambda: QuantumGate("h", [0]), TypeError)]:  # records take keywords only
        with pytest.raises(kind):
            call()


def test_gate_set_entries():
    h = gate_set.get("h")
    assert isinstance(h, np.ndarray) and h.dtype == np.complex128 and h.shape == (2, 2)
    np.testing.assert_allclose(h, np.array([[1, 1], [1, -1]]) / np.sqrt(2))
    rx = gate_set.get("rx")
    assert callable(rx)
    np.testing.assert_allclose(rx(np.pi), [[0, -1j], [-1j, 0]], atol=1e-15)
    assert gate_set.get("no_such_gate") is None
    assert gate_set.get("no_such_gate", 7) == 7
    assert gate_set.get(5) is None
    assert "cnot" in gate_set and "H" not in gate_set
    assert len(gate_set) > 0
    np.testing.assert_array_equal(gate_set["h"], h)
    with pytest.raises(KeyError):
        gate_set["no_such_gate"]


def test_gate_set_iterates_over_its_ids():
    ids = list(gate_set)
    assert ids == list(gate_set.keys()) and len(ids) == len(gate_set) == len(set(ids))
    assert ids[:2] == ["h", "x"] and {"cnot", "rx", "u", "sqrty_dag"} <= set(ids)
    assert all(i in gate_set and gate_set.get(i) is not None for i in ids)
    table = dict(zip(gate_set, map(gate_set.__getitem__, gate_set)))
    np.testing.assert_array_equal(table["swap"], gate_set["swap"])


def test_copies_are_records_of_their_own():
    import copy

    gate = QuantumGate(id="rx", target=[0], parameter=[0.5], name="r")
    for duplicate in (copy.copy(gate), copy.deepcopy(gate)):
        assert (duplicate.id, duplicate.target, duplicate.parameter) == ("rx", (0,), [0.5])
        duplicate.id = "ry"
        assert gate.id == "rx"


def test_values_that_change_their_list_while_converted():
    items = []

    class Shrinking:
        def __index__(self):
            items.clear()
            return 3

    items.extend([Shrinking(), 1, 2])
    assert QuantumGate(id="x", target=items).target == (3,)
    items.extend([Shrinking(), 1, 2])
    assert QuantumGate(id="rx", parameter=items).parameter == [3]
