"""corvane: quantum circuits as sequences of gate records, and their conversion to and
from OpenQASM 3.0 program text.

The main names are importable from ``corvane`` itself: ``qasm3_to_gate_sequence``,
``gate_sequence_to_qasm3``, ``lower_qasm3``, ``lower_to_gate_sequence``, ``bind_parameters``,
``free_parameters``, ``circuit_unitary``,
``QuantumGate`` and ``GateSequence``. They live in these modules:

- ``corvane.backend.qasm.qasm3``: ``gate_sequence_to_qasm3``, ``qasm3_to_gate_sequence``,
  ``lower_qasm3``, ``lower_to_gate_sequence``, and ``bind_parameters`` and ``free_parameters``
  for the free inputs that lowering leaves;
- ``corvane.backend.gate.gatebase``: ``QuantumGate``;
- ``corvane.backend.gatesequence.gatesequence``: ``GateSequence`` and ``circuit_unitary``, the
  matrix a sequence applies;
- ``corvane.backend.pygates.unitary``: ``gate_set``, the stored gate matrices.
"""

from corvane._native import __version__
from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence.gatesequence import GateSequence, circuit_unitary
from corvane.backend.qasm.qasm3 import (bind_parameters, free_parameters, gate_sequence_to_qasm3,
                                        lower_qasm3, lower_to_gate_sequence,
                                        qasm3_to_gate_sequence)

__all__ = ["__version__", "QuantumGate", "GateSequence", "gate_sequence_to_qasm3",
           "qasm3_to_gate_sequence", "lower_qasm3", "lower_to_gate_sequence", "bind_parameters",
           "free_parameters", "circuit_unitary"]
