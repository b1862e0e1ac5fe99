"""corvane: quantum circuits as sequences of gate records, and their conversion to and
from OpenQASM 3.0 program text.

The modules:

- ``corvane.backend.qasm.qasm3``: ``gate_sequence_to_qasm3`` and ``qasm3_to_gate_sequence``;
- ``corvane.backend.gate.gatebase``: ``QuantumGate``;
- ``corvane.backend.gatesequence.gatesequence``: ``GateSequence`` and ``circuit_unitary``, the
  matrix a sequence applies (also ``corvane.circuit_unitary``);
- ``corvane.backend.pygates.unitary``: ``gate_set``, the stored gate matrices.
"""

from corvane._native import __version__
from corvane.backend.gatesequence.gatesequence import circuit_unitary

__all__ = ["__version__", "circuit_unitary"]
