"""Conditioned records ("if" and "while") as Python sees them: the condition and
else_gate_sequence keywords and attributes, their rules, and what they share with blocks."""

import copy
import pickle

import pytest

import corvane
from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence.gatesequence import GateSequence
from corvane.backend.qasm import qasm3


def x(qubit, control=()):
    return QuantumGate(id="x", target=[qubit], control=control, control_state=[1] * len(control))


def measure(qubit, bit):
    return QuantumGate(id="measure", target=[qubit], classical_target=[bit], name="measure")


def if_else(**changes):
    keywords = dict(id="if", condition=((0,), "==", 1), block_gate_sequence=[x(4, [1])],
                    else_gate_sequence=[measure(2, 1)])
    keywords.update(changes)
    return QuantumGate(**keywords)


# ------------------------------------------------------------------ keywords and attributes

@pytest.mark.parametrize("condition, read_back", [
    (((0,), "==", 1), ((0,), "==", 1)),
    ([[3, 1], "!=", 2], ((3, 1), "!=", 2)),
    ((range(2), "<", True), ((0, 1), "<", 1)),
    (((5, 4, 3), ">=", 7), ((5, 4, 3), ">=", 7)),
    ((range(64), "<=", 2**64 - 1), (tuple(range(64)), "<=", 2**64 - 1)),
    (((9,), ">", 0), ((9,), ">", 0)),
])
def test_condition_reads_back_as_a_tuple(condition, read_back):
    gate = if_else(condition=condition)
    assert gate.condition == read_back
    assert type(gate.condition[2]) is int
    gate.condition = condition
    assert gate.condition == read_back


def test_target_follows_the_bodies_unless_given():
    gate = if_else()
    assert gate.target == (1, 2, 4)
    assert if_else(target=[1, 2, 4]) == gate
    assert gate.else_gate_sequence == (measure(2, 1),)
    gate.else_gate_sequence = None
    assert gate.target == (1, 4) and gate.else_gate_sequence is None
    gate.block_gate_sequence = [x(0), x(7)]
    assert gate.target == (0, 7)
    gate.condition = ((2,), "==", 0)
    assert gate.target == (0, 7)
    # Made without a condition, a record named "if" is an ordinary record.
    plain = QuantumGate(id="if", target=[3], control=[1], block_gate_sequence=[x(0)])
    assert plain.condition is None and plain.target == (3,) and plain.control == (1,)


def test_defaults_and_absent_apart_from_empty():
    assert QuantumGate(id="h").condition is None
    assert QuantumGate(id="h").else_gate_sequence is None
    assert if_else(else_gate_sequence=[]).else_gate_sequence == ()
    assert if_else(else_gate_sequence=[]) != if_else(else_gate_sequence=None)


# A change to a record read from a body reaches the record that holds it, and its target.
def test_records_of_an_else_body_belong_to_it():
    gate = if_else()
    (inner,) = gate.else_gate_sequence
    assert gate.else_gate_sequence is gate.else_gate_sequence
    inner.target = [6]
    assert gate.else_gate_sequence[0].target == (6,)
    assert gate.target == (1, 4, 6)
    (first,) = gate.block_gate_sequence
    first.id = "y"
    assert gate.block_gate_sequence[0].id == "y" and gate.else_gate_sequence[0].target == (6,)
    # Nested: a record in the else-body of an "if" in the block of another.
    outer = QuantumGate(id="while", condition=((1,), "==", 0), block_gate_sequence=[gate])
    outer.block_gate_sequence[0].else_gate_sequence[0].target = [8]
    assert outer.target == (1, 4, 8)
    gate.else_gate_sequence = []  # a new body: the records read before are their own
    inner.target = [5]
    assert gate.else_gate_sequence == () and gate.target == (1, 4)


# ------------------------------------------------------------------ rules

@pytest.mark.parametrize("keywords, kind, message", [
    ({"condition": (0, "==", 1)}, TypeError,
     "QuantumGate condition bits must be a sequence of integers, not int"),
    ({"condition": [(0,), "=="]}, TypeError,
     "QuantumGate condition must be a (bits, comparison, value) tuple or None, not list"),
    ({"condition": "c==1"}, TypeError,
     "QuantumGate condition must be a (bits, comparison, value) tuple or None, not str"),
    ({"condition": ((0,), "=<", 1)}, ValueError,
     "QuantumGate condition comparison must be one of '==', '!=', '<', '<=', '>', '>=', "
     "not '=<'"),
    ({"condition": ((0,), 3, 1)}, TypeError,
     "QuantumGate condition comparison must be str, not int"),
    ({"condition": ((0,), "==", 1.0)}, TypeError,
     "QuantumGate condition value must be an integer, not float"),
    ({"condition": ((0,), "==", -1)}, ValueError,
     "QuantumGate condition value must be from 0 to 2**64 - 1, got -1"),
    ({"condition": (range(64), "==", 2**64)}, ValueError,
     "QuantumGate condition value must be from 0 to 2**64 - 1, got 18446744073709551616"),
    ({"condition": ((0, 1), "==", 4)}, ValueError, "condition value 4 does not fit in 2 bits"),
    ({"condition": ((), "==", 0)}, ValueError, "a condition needs at least one bit"),
    ({"condition": ((2, 2), "==", 0)}, ValueError, "condition bit 2 appears twice"),
    ({"condition": ((-1,), "==", 0)}, ValueError, "condition bits must not be negative, got -1"),
    ({"condition": (range(65), "==", 0)}, NotImplementedError,
     "a condition reads at most 64 bits, got 65"),
    ({"control": [0], "control_state": [1]}, ValueError, "'if' records cannot be controlled"),
    ({"id": "while"}, ValueError, "'while' records have no else_gate_sequence"),
    ({"id": "cx"}, ValueError,
     "a condition belongs to 'if' and 'while' records, not to 'cx' records"),
    ({"block_gate_sequence": None}, ValueError, "'if' records need a block_gate_sequence"),
    ({"target": [1, 4]}, ValueError,
     "the target of a conditioned record lists the qubits its bodies act on, [1, 2, 4], "
     "not [1, 4]"),
    ({"condition": None}, ValueError,
     "an else_gate_sequence needs an 'if' record with a condition"),
    ({"else_gate_sequence": [x(0), "h"]}, TypeError,
     "QuantumGate else_gate_sequence entries must be QuantumGate, not str"),
    ({"else_gate_sequence": 3}, TypeError,
     "QuantumGate else_gate_sequence must be a sequence of QuantumGate, not int"),
])
def test_breaking_a_rule_raises_with_a_clear_message(keywords, kind, message):
    with pytest.raises(kind) as error:
        if_else(**keywords)
    assert str(error.value) == message
    gate = if_else()
    for name, value in keywords.items():  # the same through the attributes, one at a time
        try:
            setattr(gate, name, value)
        except (TypeError, ValueError, NotImplementedError):
            assert gate == if_else()  # a refused change leaves the record as it was
            break
    else:
        pytest.fail("no attribute was refused")


# ------------------------------------------------------------------ values

def nested(depth):
    gate = x(0)
    for level in range(depth):
        gate = QuantumGate(id="if", condition=((level % 3,), "==", 1),
                           block_gate_sequence=[x(1)], else_gate_sequence=[gate])
    return gate


@pytest.mark.parametrize("changes", [
    {"condition": ((0,), "==", 0)}, {"condition": ((0,), "!=", 1)}, {"condition": ((1,), "==", 1)},
    {"condition": ((0, 1), "==", 1)}, {"else_gate_sequence": None}, {"else_gate_sequence": []},
    {"else_gate_sequence": [measure(2, 0)]},
    {"block_gate_sequence": [measure(2, 1)], "else_gate_sequence": [x(4, [1])]},
], ids=repr)
def test_records_differing_in_condition_or_else_body_are_unequal(changes):
    assert if_else(**changes) != if_else() and if_else(**changes) == if_else(**changes)


@pytest.mark.parametrize("gate", [if_else(), if_else(id="while", else_gate_sequence=None),
                                  nested(50)], ids=["if", "while", "nested"])
@pytest.mark.parametrize("duplicate", [
    copy.copy, copy.deepcopy,
    *[lambda g, p=p: pickle.loads(pickle.dumps(g, protocol=p))
      for p in range(pickle.HIGHEST_PROTOCOL + 1)],
])
def test_conditioned_records_copy_and_pickle_as_values(gate, duplicate):
    twin = duplicate(gate)
    assert twin == gate and twin.condition == gate.condition
    twin.block_gate_sequence[0].id = "changed"
    assert gate.block_gate_sequence[0].id != "changed" and twin != gate


def test_repr_shows_the_condition_and_both_bodies():
    assert repr(if_else(block_gate_sequence=[x(1)], else_gate_sequence=[])) == (
        "QuantumGate(id='if', target=(1,), condition=((0,), '==', 1), "
        "block_gate_sequence=(QuantumGate(id='x', target=(1,)),), else_gate_sequence=())")


def test_deep_nesting_compares_within_the_bound_and_releases():
    assert nested(900) == nested(900)
    with pytest.raises(RecursionError):
        nested(1100) == nested(1100)
    chain = nested(100_000)
    del chain  # freed level by level, not by recursion


# ------------------------------------------------------------------ conversions

def test_the_exporter_and_circuit_unitary_refuse_them():
    gs = GateSequence(5)
    gs.add_gate(if_else())
    with pytest.raises(NotImplementedError, match="^QASM 3.0 export does not support gate id 'if'$"):
        qasm3.gate_sequence_to_qasm3(gs)
    with pytest.raises(NotImplementedError, match="^QASM 3.0 export does not support gate id 'if'$"):
        qasm3.gate_sequence_to_qasm3(gs, full_language=False)
    with pytest.raises(ValueError, match="gate 'if' is conditioned on measured bits: no unitary"):
        corvane.circuit_unitary(gs)


def test_full_language_writes_them():
    gs = GateSequence(5)
    gs.add_gate(measure(0, 0))
    gs.add_gate(if_else())
    gs.add_gate(QuantumGate(id="while", condition=((0, 1), "!=", 0),
                            block_gate_sequence=[QuantumGate(id="reset", target=[3])]))
    with pytest.raises(ValueError, match=r"^Condition bits \[0, 1\] are not one register, one bit "
                                         r"or a run of one register's bits$"):
        qasm3.gate_sequence_to_qasm3(gs, cregs=[("m", 1), ("flags", 1)], full_language=True)
    text = qasm3.gate_sequence_to_qasm3(gs, full_language=True)
    assert text.endswith("\nqubit[5] q;\nbit[2] c;\n\nmeasure q[0] -> c[0];\n"
                         "if (c[0] == 1) {\n  ctrl @ x q[1], q[4];\n} else {\n  measure q[2] -> c[1];\n}\n"
                         "while (c != 0) {\n  reset q[3];\n}\n")


def test_full_language_reads_back_through_lowering():
    gs = GateSequence(5)
    gs.add_gate(measure(0, 0))
    gs.add_gate(if_else())
    gs.add_gate(QuantumGate(id="while", condition=((1,), "==", 0),
                            block_gate_sequence=[QuantumGate(id="reset", target=[3]), measure(3, 1)]))
    text = qasm3.gate_sequence_to_qasm3(gs, full_language=True)
    back = qasm3.lower_to_gate_sequence(text)
    assert back.data() == gs.data()
    assert qasm3.gate_sequence_to_qasm3(back, full_language=True) == text
