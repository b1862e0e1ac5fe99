"""Gate sequences: ``GateSequence``, an ordered list of gate records over a fixed number of
qubits."""

from __future__ import annotations

import operator
from typing import TYPE_CHECKING, Iterator, List, SupportsIndex, Tuple, Union, overload

from corvane import _native
from corvane.backend.gate.gatebase import QuantumGate

if TYPE_CHECKING:
    from corvane._native import ComplexMatrix, ExportableSequence

__all__ = ["GateSequence", "circuit_unitary"]

# How many records repr() shows before it counts the rest.
_REPR_GATES = 3


class GateSequence:
    """An ordered list of ``QuantumGate`` records over ``num_qubits`` qubits.

    ``GateSequence(num_qubits)`` makes an empty sequence; ``num_qubits`` is a non-negative
    int. It is a sequence of its records: ``len``, iteration, indexing (negative indices and
    slices, which give lists) and ``in``. Sequences are values: ``==`` compares the qubit
    count, the records and every other attribute, ``copy.copy`` gives a new list of the same
    records, ``copy.deepcopy`` and pickling copy the records too.

    The importer also sets ``_qasm_quantum_registers``, ``_qasm_classical_registers`` and
    ``_qasm_measure_map`` on the sequences it returns, each only when the program gave it;
    ``lower_to_gate_sequence`` sets ``_qasm_inputs``, the free inputs its str parameters
    name as ``(name, type)`` pairs, only when there are some.
    """

    # Set only where a program gave them (hasattr tells), so declared without a value.
    _qasm_quantum_registers: List[Tuple[str, int]]
    _qasm_classical_registers: List[Tuple[str, int]]
    _qasm_measure_map: List[Tuple[int, int]]
    _qasm_inputs: List[Tuple[str, str]]

    def __init__(self, num_qubits: SupportsIndex) -> None:
        count = operator.index(num_qubits)
        if count < 0:
            raise ValueError("GateSequence qubit count must not be negative")
        self._num_qubits: int = count
        self._gates: List[QuantumGate] = []

    @property
    def num_qubits(self) -> int:
        """The declared qubit count (read-only)."""
        return self._num_qubits

    def add_gate(self, gate: QuantumGate) -> None:
        """Appends the ``QuantumGate`` ``gate`` to the sequence."""
        if not isinstance(gate, QuantumGate):
            raise TypeError(f"add_gate() argument must be QuantumGate, not {type(gate).__name__}")
        self._gates.append(gate)

    def data(self) -> List[QuantumGate]:
        """The records in circuit order: the same list object on every call."""
        return self._gates

    def __len__(self) -> int:
        return len(self._gates)

    def __iter__(self) -> Iterator[QuantumGate]:
        return iter(self._gates)

    @overload
    def __getitem__(self, index: SupportsIndex) -> QuantumGate: ...

    @overload
    def __getitem__(self, index: slice) -> List[QuantumGate]: ...

    def __getitem__(self, index: Union[SupportsIndex, slice]
                    ) -> Union[QuantumGate, List[QuantumGate]]:
        if isinstance(index, slice):
            return self._gates[index]
        try:
            return self._gates[operator.index(index)]
        except IndexError:
            raise IndexError("GateSequence index out of range") from None

    # Every attribute, so that the importer's layout attributes (and any a caller adds)
    # take part; __hash__ is None because sequences change.
    def __eq__(self, other: object) -> bool:
        if not isinstance(other, GateSequence):
            return NotImplemented
        return vars(self) == vars(other)

    __hash__ = None  # type: ignore[assignment]

    def __copy__(self) -> GateSequence:
        duplicate = type(self).__new__(type(self))
        for name, value in vars(self).items():
            setattr(duplicate, name, value.copy() if isinstance(value, list) else value)
        return duplicate

    def __repr__(self) -> str:
        shown = ", ".join(repr(gate) for gate in self._gates[:_REPR_GATES])
        beyond = len(self._gates) - _REPR_GATES
        if beyond > 0:
            shown += f", ... {beyond} more"
        return f"GateSequence({self._num_qubits}, [{shown}])"


def circuit_unitary(gs: ExportableSequence) -> ComplexMatrix:
    """The unitary ``gs`` applies: a complex numpy array of 2**n rows and columns for its n
    qubits (at most 12), qubit k being bit k of the row and column index.

    Each record means what the gate model says (its ``gate_set`` matrix on each target,
    under its controls; blocks with local qubit i on their i-th target; "unitary" records
    with the first target as the high bit of their matrix's index). Measurements may only
    end the sequence and are left out. Raises ValueError for a record without such a
    meaning, for example "circuit_unitary: no matrix for gate 'foo'".
    """
    return _native.circuit_unitary(gs)
