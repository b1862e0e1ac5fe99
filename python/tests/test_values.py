"""Records and sequences as Python values: equality, copies, pickles, and GateSequence as a
sequence of its records."""

import copy
import pickle

import numpy as np
import pytest

from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence.gatesequence import GateSequence
from corvane.backend.qasm import qasm3
from helpers import EXAMPLES_DIR, record_value

PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)


def full_gate(**changes):
    """A record with every attribute set to something other than its default."""
    keywords = dict(
        id="unitary", target=[0, 2], control=[1], control_state=[0], parameter=[0.5, "theta", 2],
        classical_target=[3], name="u1", matrix=np.eye(2), stored_matrix=[[0, 1j], [1j, 0]],
        block_gate_sequence=[QuantumGate(id="h", target=[0]),
                             QuantumGate(id="block", target=[1], name="inner",
                                         block_gate_sequence=[QuantumGate(id="x", target=[1])])])
    keywords.update(changes)
    return QuantumGate(**keywords)


def sequence(num_qubits, *gates, **attributes):
    gs = GateSequence(num_qubits)
    for gate in gates:
        gs.add_gate(gate)
    for name, value in attributes.items():
        setattr(gs, name, value)
    return gs


def imported(name):
    return qasm3.qasm3_to_gate_sequence((EXAMPLES_DIR / name).read_text(encoding="utf-8"))


# ------------------------------------------------------------------ equality

# One row per attribute: a record that differs from full_gate() in that attribute only.
@pytest.mark.parametrize("changes", [
    {"id": "block"}, {"target": [0, 1]}, {"target": [2, 0]}, {"control": [4]}, {"control": []},
    {"control_state": [1]}, {"parameter": None}, {"parameter": (0.5, "theta", 2)},
    {"parameter": [0.5, "theta", 2.0]}, {"parameter": [0.5, "theta", True]},
    {"parameter": [0.5, "theta"]}, {"parameter": np.array([[0.5]])}, {"parameter": []},
    {"classical_target": None}, {"classical_target": [4]}, {"name": None}, {"name": "u2"},
    {"matrix": None}, {"matrix": np.eye(2) * 1j}, {"matrix": np.eye(4)},
    {"stored_matrix": None}, {"stored_matrix": [[0, 1], [1, 0]]},
    {"block_gate_sequence": None}, {"block_gate_sequence": []},
    {"block_gate_sequence": [QuantumGate(id="h", target=[0])]},
    {"block_gate_sequence": [QuantumGate(id="h", target=[0]),
                             QuantumGate(id="block", target=[1], name="inner",
                                         block_gate_sequence=[QuantumGate(id="y", target=[1])])]},
], ids=lambda changes: "-".join(f"{k}={v!r}" for k, v in changes.items())[:60])
def test_records_differing_in_one_attribute_are_unequal(changes):
    changed = full_gate(**changes)
    assert changed != full_gate() and full_gate() != changed
    assert not changed == full_gate()
    assert changed == full_gate(**changes)


@pytest.mark.parametrize("first, second", [
    (QuantumGate(id="h"), QuantumGate(id="h", target=[], control=(), parameter=None)),
    (QuantumGate(id="rx", parameter=[0.5]), QuantumGate(id="rx", parameter=[np.float64(0.5)])),
    (QuantumGate(id="u", matrix=[[1, 0], [0, 1]]), QuantumGate(id="u", matrix=np.eye(2))),
    (full_gate(), full_gate()),
])
def test_records_with_the_same_attributes_are_equal(first, second):
    assert first == second and not first != second


def test_records_are_unhashable_and_compare_with_nothing_else():
    gate = QuantumGate(id="h", target=[0])
    assert QuantumGate.__hash__ is None and GateSequence.__hash__ is None
    with pytest.raises(TypeError):
        hash(gate)
    with pytest.raises(TypeError):
        {sequence(1)}
    assert gate != "h" and gate != record_value(gate) and sequence(1) != [gate]
    with pytest.raises(TypeError):
        gate < gate
    assert gate in [QuantumGate(id="x"), QuantumGate(id="h", target=[0])]


# One row per attribute of a sequence: a sequence that differs from base_sequence() there.
def base_sequence():
    return sequence(3, QuantumGate(id="h", target=[0]), QuantumGate(id="x", target=[1]),
                    _qasm_quantum_registers=[("q", 3)], _qasm_classical_registers=[("c", 1)],
                    _qasm_measure_map=[(0, 0)], _qasm_inputs=[("theta", "float[64]")])


@pytest.mark.parametrize("change", [
    lambda gs: setattr(gs, "_num_qubits", 4),
    lambda gs: gs.add_gate(QuantumGate(id="h", target=[0])),
    lambda gs: gs.data().pop(),
    lambda gs: gs.data().reverse(),
    lambda gs: setattr(gs.data()[1], "target", [2]),
    lambda gs: setattr(gs, "_qasm_quantum_registers", [("q", 2), ("r", 1)]),
    lambda gs: delattr(gs, "_qasm_classical_registers"),
    lambda gs: setattr(gs, "_qasm_classical_registers", [("c", 2)]),
    lambda gs: delattr(gs, "_qasm_measure_map"),
    lambda gs: setattr(gs, "_qasm_measure_map", [(0, 1)]),
    lambda gs: delattr(gs, "_qasm_inputs"),
    lambda gs: setattr(gs, "_qasm_inputs", [("theta", "angle[8]")]),
])
def test_sequences_differing_in_one_attribute_are_unequal(change):
    changed = base_sequence()
    assert changed == base_sequence()
    change(changed)
    assert changed != base_sequence() and base_sequence() != changed


def test_an_imported_sequence_equals_its_reimport():
    first, second = imported("teleport.qasm"), imported("teleport.qasm")
    assert first == second
    second.data()[0].id = "x"
    assert first != second


# ------------------------------------------------------------------ copies and pickles

RECORDS = [
    QuantumGate(id="h", target=[0]),
    QuantumGate(id="rx", target=[1], control=[0, 2], control_state=[1, 0], parameter=0.25),
    QuantumGate(id="rx", target=[0], parameter=(0.25,)),
    QuantumGate(id="u", target=[0], parameter=[1, 2.5, True, "pi/2", "é"]),
    QuantumGate(id="u", target=[0], parameter=[]),
    QuantumGate(id="p", target=[0], parameter="theta"),
    QuantumGate(id="p", target=[0], parameter=False),
    QuantumGate(id="u", target=[0], parameter=np.array([[0.5, 1j], [2, 3]])),
    QuantumGate(id="measure", target=[0, 1], classical_target=[1, 0], name="measure"),
    QuantumGate(id="unitary", target=[0], stored_matrix=[[0, 1], [1, 0]], matrix=np.eye(2)),
    QuantumGate(id="block", target=[0], block_gate_sequence=[]),
    full_gate(),
]


@pytest.mark.parametrize("gate", RECORDS, ids=repr)
@pytest.mark.parametrize("duplicate", [
    copy.copy, copy.deepcopy,
    *[lambda g, p=p: pickle.loads(pickle.dumps(g, protocol=p)) for p in PROTOCOLS],
], ids=["copy", "deepcopy", *[f"pickle{p}" for p in PROTOCOLS]])
def test_records_copy_and_pickle_as_values(gate, duplicate):
    twin = duplicate(gate)
    assert type(twin) is QuantumGate and twin is not gate
    assert twin == gate and record_value(twin) == record_value(gate)
    assert type(twin.parameter) is type(gate.parameter)
    twin.id = "changed"
    assert gate.id != "changed"


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_sequences_pickle_with_their_layout(protocol):
    for original in (base_sequence(), imported("teleport.qasm"), sequence(2, *RECORDS)):
        twin = pickle.loads(pickle.dumps(original, protocol=protocol))
        assert type(twin) is GateSequence and twin == original
        assert vars(twin).keys() == vars(original).keys()
        assert qasm3.gate_sequence_to_qasm3(twin) == qasm3.gate_sequence_to_qasm3(original)


def test_a_copy_of_a_sequence_is_a_new_list_of_the_same_records():
    original = base_sequence()
    shallow = copy.copy(original)
    assert shallow == original and shallow.data() is not original.data()
    assert all(a is b for a, b in zip(shallow, original))
    shallow.add_gate(QuantumGate(id="z", target=[2]))
    shallow._qasm_measure_map.append((1, 0))
    assert len(original) == 2 and original._qasm_measure_map == [(0, 0)]

    deep = copy.deepcopy(original)
    assert deep == original and not any(a is b for a, b in zip(deep, original))
    deep[0].id = "x"
    assert original[0].id == "h"


def test_a_deep_copy_keeps_a_record_that_appears_twice_one_record():
    gate = QuantumGate(id="h", target=[0])
    deep = copy.deepcopy(sequence(1, gate, gate))
    assert deep[0] is deep[1] and deep[0] is not gate


def test_unpickling_checks_the_values_it_is_given():
    gate = QuantumGate.__new__(QuantumGate)
    with pytest.raises(TypeError, match="QuantumGate target must be a sequence of integers"):
        gate.__setstate__({"id": "h", "target": 3})
    with pytest.raises(TypeError, match="QuantumGate state must be a dict"):
        gate.__setstate__(("h",))


# ------------------------------------------------------------------ parameter lists

# Tuples of one to three floats are kept inside the record, other lists apart from it;
# Python must not see the difference, through copies and pickles alike.
NAN = float("nan")


def plain_entries(parameter):
    return type(parameter)(float(x) if isinstance(x, np.floating) else x for x in parameter)


@pytest.mark.parametrize("parameter", [
    (0.5,), (0.5, -0.0), (0.1, 0.2, 0.3), (-0.0, NAN, float("-inf")), (0.1, 0.2, 0.3, 0.4),
    [0.1, 0.2, 0.3], [0.5], (1, -0.0, NAN), (0.5, "theta", 2.0), (True, 0.5),
    (np.float64(0.25), 1.0, np.float32(0.5)),
], ids=repr)
def test_parameter_lists_come_back_entry_for_entry(parameter):
    gate = QuantumGate(id="u", target=[0], parameter=parameter)
    twins = [copy.copy(gate), *[pickle.loads(pickle.dumps(gate, protocol=p)) for p in PROTOCOLS]]
    for back in [gate.parameter, *[twin.parameter for twin in twins]]:
        assert type(back) is type(parameter)
        assert repr(back) == repr(plain_entries(parameter))  # kinds, -0.0 and NaN as given


@pytest.mark.parametrize("first, second, equal", [
    ((0.1, 0.2, 0.3), (0.1, 0.2, 0.3), True),
    ((0.1, 0.2, 0.3), [0.1, 0.2, 0.3], False),
    ((0.1, 0.2, 0.3), (0.1, 0.2, 0.3, 0.4), False),
    ((0.1, 0.2), (0.1, 0.2, 0.3), False),
    ((0.3, 0.2, 0.1), (0.1, 0.2, 0.3), False),
    ((1.0, 2.0), (1, 2.0), False),
    ((1.0, 2.0), (True, 2.0), False),
    ((-0.0, 1.0), (0.0, 1.0), True),
    ((NAN, 1.0), (NAN, 1.0), False),
    ((1, -0.0, NAN), (1, -0.0, NAN), False),
])
def test_parameter_lists_compare_entry_by_entry(first, second, equal):
    a, b = (QuantumGate(id="u", target=[0], parameter=p) for p in (first, second))
    assert (a == b) is equal and (b == a) is equal


def test_imported_lowered_and_built_angles_are_one_value():
    program = "OPENQASM 3.0;\nqubit[1] q;\nU(0.5, -0.0, 2) q[0];\nrz(0.25) q[0];\n"
    imported_gs = qasm3.qasm3_to_gate_sequence(program)
    assert imported_gs == qasm3.lower_to_gate_sequence(program)
    u, rz = imported_gs.data()
    assert repr(u.parameter) == "(0.5, -0.0, 2.0)" and rz.parameter == (0.25,)
    built = QuantumGate(id=u.id, target=[0], parameter=(0.5, -0.0, 2.0))
    assert built == u and pickle.loads(pickle.dumps(u)) == built
    as_list = QuantumGate(id=u.id, target=[0], parameter=[0.5, -0.0, 2.0])
    assert as_list != u
    texts = {qasm3.gate_sequence_to_qasm3(sequence(1, g)) for g in (u, built, as_list)}
    assert len(texts) == 1


# ------------------------------------------------------------------ GateSequence as a sequence

def test_a_sequence_iterates_and_indexes_like_a_list():
    gates = [QuantumGate(id=name, target=[i]) for i, name in enumerate("hxyzs")]
    gs = sequence(5, *gates)
    assert list(gs) == gates and [g for g in gs][0] is gates[0]
    assert list(reversed(gs)) == gates[::-1]
    for index in range(-5, 5):
        assert gs[index] is gates[index]
    for piece in (slice(1, 3), slice(None, None, -2), slice(-2, None), slice(4, 1), slice(9, 20)):
        assert gs[piece] == gates[piece] and isinstance(gs[piece], list)
    assert gs[np.int64(1)] is gates[1]
    assert QuantumGate(id="y", target=[2]) in gs and QuantumGate(id="y", target=[0]) not in gs


@pytest.mark.parametrize("index, kind", [(5, IndexError), (-6, IndexError), (2**70, IndexError),
                                         (1.0, TypeError), ("0", TypeError), (None, TypeError)])
def test_a_sequence_refuses_indices_as_a_list_does(index, kind):
    gs = sequence(1, *[QuantumGate(id="h", target=[0])] * 5)
    with pytest.raises(kind):
        gs[index]


def test_num_qubits_is_read_only():
    gs = GateSequence(4)
    assert gs.num_qubits == 4 == gs._num_qubits
    with pytest.raises(AttributeError):
        gs.num_qubits = 5
    assert imported("bell.qasm").num_qubits == 2


@pytest.mark.parametrize("count, expected", [
    (0, "GateSequence(2, [])"),
    (1, "GateSequence(2, [QuantumGate(id='h', target=(0,))])"),
    (3, "GateSequence(2, [QuantumGate(id='h', target=(0,)), QuantumGate(id='x', target=(1,)), "
        "QuantumGate(id='h', target=(0,))])"),
    (4, "GateSequence(2, [QuantumGate(id='h', target=(0,)), QuantumGate(id='x', target=(1,)), "
        "QuantumGate(id='h', target=(0,)), ... 1 more])"),
    (1000, "GateSequence(2, [QuantumGate(id='h', target=(0,)), QuantumGate(id='x', target=(1,)), "
           "QuantumGate(id='h', target=(0,)), ... 997 more])"),
])
def test_repr_shows_the_first_records_and_counts_the_rest(count, expected):
    gates = [QuantumGate(id="hx"[i % 2], target=[i % 2]) for i in range(count)]
    assert repr(sequence(2, *gates)) == expected


# ------------------------------------------------------------------ records inside blocks

def nested_block():
    return QuantumGate(id="block", target=[0, 1], name="outer", block_gate_sequence=[
        QuantumGate(id="h", target=[0]),
        QuantumGate(id="block", target=[1], name="inner",
                    block_gate_sequence=[QuantumGate(id="x", target=[1])])])


def test_a_block_gives_the_same_records_on_every_read():
    blk = nested_block()
    assert blk.block_gate_sequence is blk.block_gate_sequence
    assert blk.block_gate_sequence[1].block_gate_sequence is \
        blk.block_gate_sequence[1].block_gate_sequence
    with pytest.raises(TypeError):
        blk.block_gate_sequence[0] = QuantumGate(id="x")


# Each row changes a nested record in place and gives what the block must hold afterwards.
@pytest.mark.parametrize("change, expected", [
    (lambda b: setattr(b.block_gate_sequence[0], "id", "x"),
     [("x", (0,)), ("block", (1,), [("x", (1,))])]),
    (lambda b: [setattr(g, "target", [1]) for g in b.block_gate_sequence],
     [("h", (1,)), ("block", (1,), [("x", (1,))])]),
    (lambda b: setattr(b.block_gate_sequence[1].block_gate_sequence[0], "parameter", 0.5),
     [("h", (0,)), ("block", (1,), [("x", (1,), 0.5)])]),
    (lambda b: setattr(b.block_gate_sequence[1], "block_gate_sequence", []),
     [("h", (0,)), ("block", (1,), [])]),
    (lambda b: b.block_gate_sequence[0].__setstate__({"id": "z", "target": (0,)}),
     [("z", (0,)), ("block", (1,), [("x", (1,))])]),
])
def test_a_change_to_a_nested_record_sticks(change, expected):
    def build(rows):
        gates = []
        for row in rows:
            if len(row) == 3 and isinstance(row[2], list):
                gates.append(QuantumGate(id=row[0], target=row[1], name="inner",
                                         block_gate_sequence=build(row[2])))
            else:
                gates.append(QuantumGate(id=row[0], target=row[1],
                                         parameter=row[2] if len(row) == 3 else None))
        return gates

    blk = nested_block()
    change(blk)
    wanted = QuantumGate(id="block", target=[0, 1], name="outer",
                         block_gate_sequence=build(expected))
    assert blk == wanted
    assert pickle.loads(pickle.dumps(blk)) == wanted and copy.copy(blk) == wanted


def test_records_read_before_the_block_was_replaced_are_on_their_own():
    blk = nested_block()
    old = blk.block_gate_sequence
    blk.block_gate_sequence = [QuantumGate(id="z", target=[0])]
    old[0].id = "y"
    old[1].block_gate_sequence[0].id = "y"
    assert [g.id for g in blk.block_gate_sequence] == ["z"]
    assert old[0].id == "y" and old[1].block_gate_sequence[0].id == "y"
    assert blk.block_gate_sequence is not old


def test_records_outlive_their_block():
    blk = nested_block()
    inner = blk.block_gate_sequence[1]
    innermost = inner.block_gate_sequence
    del blk
    inner.id = "y"
    innermost[0].id = "z"
    assert inner.id == "y" and inner.block_gate_sequence[0].id == "z"


def test_copies_of_nested_records_are_on_their_own():
    blk = nested_block()
    duplicate = copy.copy(blk.block_gate_sequence[0])
    duplicate.id = "y"
    assert blk.block_gate_sequence[0].id == "h"
    twin = copy.copy(blk)
    twin.block_gate_sequence[0].id = "y"
    assert blk.block_gate_sequence[0].id == "h" and twin.block_gate_sequence[0].id == "y"


def test_calls_of_one_imported_definition_change_one_at_a_time():
    gs = qasm3.qasm3_to_gate_sequence(
        "OPENQASM 3.0;\ninclude \"stdgates.inc\";\ngate pair a, b { h a; cx a, b; }\n"
        "qubit[2] q;\npair q[0], q[1];\npair q[1], q[0];\n")
    first, second = gs
    first.block_gate_sequence[0].id = "x"
    assert [g.id for g in first.block_gate_sequence] == ["x", "cx"]
    assert [g.id for g in second.block_gate_sequence] == ["h", "cx"]
    text = qasm3.gate_sequence_to_qasm3(gs)
    assert "x a0;" in text and "h a0;" in text
