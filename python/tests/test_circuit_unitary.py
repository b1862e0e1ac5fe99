"""circuit_unitary from Python: matrices known by hand, qubit order, refusals, and the same
unitary after exporting and importing a random sequence."""

import math

import numpy as np
import pytest

import corvane
from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence import gatesequence
from corvane.backend.gatesequence.gatesequence import GateSequence, circuit_unitary
from corvane.backend.qasm.qasm3 import gate_sequence_to_qasm3, qasm3_to_gate_sequence


def sequence(num_qubits, *gates):
    gs = GateSequence(num_qubits)
    for gate in gates:
        gs.add_gate(gate)
    return gs


def gate(id, target, control=(), control_state=(), parameter=None, **more):
    return QuantumGate(id=id, target=target, control=control, control_state=control_state,
                       parameter=parameter, **more)


def permutation(dim, image):
    """The matrix that sends basis state i to image(i)."""
    m = np.zeros((dim, dim), dtype=complex)
    for i in range(dim):
        m[image(i), i] = 1
    return m


def model_u(theta, phi, lam):
    c, s = math.cos(theta / 2), math.sin(theta / 2)
    return np.array([[c, -np.exp(1j * lam) * s],
                     [np.exp(1j * phi) * s, np.exp(1j * (phi + lam)) * c]])


H = np.array([[1, 1], [1, -1]]) / math.sqrt(2)
# |j> -> e^{ij} |j + 1 mod 4>: not symmetric under exchanging its two qubits.
CYCLE = np.array([[0, 0, 0, np.exp(3j)], [1, 0, 0, 0], [0, np.exp(1j), 0, 0],
                  [0, 0, np.exp(2j), 0]])
SWAP_BITS = [0, 2, 1, 3]
U_ANGLES = (0.7, -1.3, 2.1)

KNOWN = [
    ("x", sequence(1, gate("x", [0])), np.array([[0, 1], [1, 0]])),
    ("h then s", sequence(1, gate("h", [0]), gate("s", [0])), np.diag([1, 1j]) @ H),
    ("x on qubit 0 flips bit 0", sequence(2, gate("x", [0])), permutation(4, lambda i: i ^ 1)),
    ("cnot control 0", sequence(2, gate("cnot", [1], [0], [1])),
     permutation(4, lambda i: i ^ 2 if i & 1 else i)),
    ("negative control", sequence(2, gate("cx", [1], [0], [0])),
     permutation(4, lambda i: i if i & 1 else i ^ 2)),
    ("controlled swap", sequence(3, gate("swap", [1, 2], [0], [1])),
     permutation(8, lambda i: {3: 5, 5: 3}.get(i, i))),
    ("controlled u", sequence(2, gate("u", [0], [1], [1], U_ANGLES)),
     np.block([[np.eye(2), np.zeros((2, 2))], [np.zeros((2, 2)), model_u(*U_ANGLES)]])),
    ("block with reversed targets",
     sequence(2, gate("block", [1, 0], block_gate_sequence=[gate("cx", [1], [0], [1])])),
     permutation(4, lambda i: i ^ 1 if i & 2 else i)),
    ("unitary, first target the high bit",
     sequence(2, gate("unitary", [1, 0], stored_matrix=CYCLE)), CYCLE),
    ("unitary on targets in order", sequence(2, gate("unitary", [0, 1], stored_matrix=CYCLE)),
     CYCLE[np.ix_(SWAP_BITS, SWAP_BITS)]),
    ("controlled global phase", sequence(2, gate("gp", [], [1], [0], [0.4])),
     np.diag([np.exp(0.4j), np.exp(0.4j), 1, 1])),
    ("trailing measurement", sequence(1, gate("x", [0]), QuantumGate(
        id="measure", target=[0], classical_target=[0])), np.array([[0, 1], [1, 0]])),
]


@pytest.mark.parametrize("gs, expected", [c[1:] for c in KNOWN], ids=[c[0] for c in KNOWN])
def test_gates_known_by_hand(gs, expected):
    actual = circuit_unitary(gs)
    assert actual.dtype == np.complex128 and actual.shape == expected.shape
    np.testing.assert_allclose(actual, expected, atol=1e-12)


def test_exposed_at_the_package_and_beside_the_sequence():
    assert corvane.circuit_unitary is gatesequence.circuit_unitary
    np.testing.assert_array_equal(corvane.circuit_unitary(sequence(3)), np.eye(8))


@pytest.mark.parametrize("gs, message", [
    (sequence(13), "circuit_unitary supports at most 12 qubits, got 13"),
    (sequence(1, gate("foo", [0])), "circuit_unitary: no matrix for gate 'foo'"),
    (sequence(1, QuantumGate(id="measure", target=[0], classical_target=[0]), gate("h", [0])),
     "circuit_unitary: gate 'h' follows a measurement; only measurements may come after one"),
])
def test_refusals_are_value_errors(gs, message):
    with pytest.raises(ValueError) as caught:
        circuit_unitary(gs)
    assert str(caught.value) == message


def test_an_object_that_is_no_sequence_is_a_type_error():
    with pytest.raises(TypeError, match=r"^circuit_unitary\(\) argument 'gs' must be a "
                                        r"GateSequence, not list$"):
        circuit_unitary([])


SHAPES = [  # ids, targets, least controls, angles
    (["x", "y", "z", "h", "s", "s_dag", "t", "tdg", "sqrtx", "sqrty", "sqrtx_dag", "-z"], 1, 0, 0),
    (["rx", "ry", "rz", "p", "phase_gate"], 1, 0, 1),
    (["u"], 1, 0, 3),
    (["cx", "cnot", "cy", "cz", "ch", "mcx", "cs"], 1, 1, 0),
    (["crx", "mcry", "crz", "cp", "mcp"], 1, 1, 1),
    (["swap"], 2, 0, 0),
    (["rzz"], 2, 0, 1),
    (["gp", "global_phase"], 0, 0, 1),
]


def random_record(rng, scope, depth):
    if depth < 2 and rng.random() < 0.1:
        arity = int(rng.integers(1, scope + 1))
        body = [random_record(rng, arity, depth + 1) for _ in range(int(rng.integers(1, 4)))]
        qubits = [int(q) for q in rng.permutation(scope)]
        controls = qubits[arity:][:int(rng.integers(0, 2))]
        return gate("block", qubits[:arity], controls, [int(rng.integers(0, 2)) for _ in controls],
                    block_gate_sequence=body)
    ids, targets, least, angles = SHAPES[int(rng.integers(len(SHAPES)))]
    if targets + least > scope:
        return gate("gp", [], parameter=float(rng.normal()))
    qubits = [int(q) for q in rng.permutation(scope)]
    controls = qubits[targets:targets + least + int(rng.integers(0, scope - targets - least + 1))]
    parameter = [float(a) for a in rng.uniform(-2 * math.pi, 2 * math.pi, angles)] or None
    return gate(ids[int(rng.integers(len(ids)))], qubits[:targets], controls,
                [int(rng.integers(0, 3) > 0) for _ in controls], parameter)


@pytest.mark.parametrize("seed", range(30))
def test_same_unitary_after_export_and_import(seed):
    rng = np.random.default_rng(seed)
    qubits = 1 + seed % 4
    gs = sequence(qubits, *[random_record(rng, qubits, 0) for _ in range(10)])
    read_back = qasm3_to_gate_sequence(gate_sequence_to_qasm3(gs))
    np.testing.assert_allclose(circuit_unitary(read_back), circuit_unitary(gs), atol=1e-9)
