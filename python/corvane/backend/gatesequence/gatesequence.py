"""Gate sequences: ``GateSequence``, an ordered list of gate records over a fixed number of
qubits."""

import operator

from corvane import _native
from corvane.backend.gate.gatebase import QuantumGate

__all__ = ["GateSequence", "circuit_unitary"]


class GateSequence:
    """An ordered list of ``QuantumGate`` records over ``num_qubits`` qubits.

    The importer also sets ``_qasm_quantum_registers``, ``_qasm_classical_registers`` and
    ``_qasm_measure_map`` on the sequences it returns, each only when the program gave it.
    """

    def __init__(self, num_qubits):
        count = operator.index(num_qubits)
        if count < 0:
            raise ValueError("GateSequence qubit count must not be negative")
        self._num_qubits = count
        self._gates = []

    def add_gate(self, gate):
        """Appends ``gate`` to the sequence."""
        if not isinstance(gate, QuantumGate):
            raise TypeError(f"add_gate() argument must be QuantumGate, not {type(gate).__name__}")
        self._gates.append(gate)

    def data(self):
        """The records in circuit order: the same list object on every call."""
        return self._gates

    def __len__(self):
        return len(self._gates)

    def __repr__(self):
        return f"GateSequence({self._num_qubits}) with {len(self._gates)} gates"


def circuit_unitary(gs):
    """The unitary ``gs`` applies: a complex numpy array of 2**n rows and columns for its n
    qubits (at most 12), qubit k being bit k of the row and column index.

    Each record means what the gate model says (its ``gate_set`` matrix on each target,
    under its controls; blocks with local qubit i on their i-th target; "unitary" records
    with the first target as the high bit of their matrix's index). Measurements may only
    end the sequence and are left out. Raises ValueError for a record without such a
    meaning, for example "circuit_unitary: no matrix for gate 'foo'".
    """
    return _native.circuit_unitary(gs)
