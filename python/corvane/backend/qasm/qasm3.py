"""OpenQASM 3.0 ↔ GateSequence bidirectional converter."""

from corvane import _native
from corvane.backend.gatesequence.gatesequence import GateSequence

__all__ = ["gate_sequence_to_qasm3", "qasm3_to_gate_sequence", "lower_qasm3"]


def gate_sequence_to_qasm3(gs, qreg_name="q", creg_name="c", num_clbits=None, qregs=None,
                           cregs=None):
    """Returns ``gs`` as one complete OpenQASM 3.0 program.

    ``qreg_name`` and ``creg_name`` name the single registers used when ``qregs`` or
    ``cregs`` (lists of (name, size) pairs) are None; ``num_clbits`` is the number of
    classical bits to declare, raised to what the measurements need.
    """
    return _native.gate_sequence_to_qasm3(gs, qreg_name, creg_name, num_clbits, qregs, cregs)


def qasm3_to_gate_sequence(code):
    """Reads the OpenQASM 3.0 program ``code`` (str) into a new ``GateSequence``.

    The sequence carries the declared layout: ``_qasm_quantum_registers`` always, and
    ``_qasm_classical_registers`` with ``_qasm_measure_map`` when the program declares bits
    or measures.
    """
    num_qubits, gates, qregs, cregs, measure_map = _native.qasm3_to_gate_sequence(code)
    gs = GateSequence(num_qubits)
    gs._gates = gates  # the importer's own new list: adopted rather than copied
    if qregs is not None:
        gs._qasm_quantum_registers = qregs
    if cregs is not None:
        gs._qasm_classical_registers = cregs
    if measure_map is not None:
        gs._qasm_measure_map = measure_map
    return gs


def lower_qasm3(text, inputs=None):
    """Rewrites the OpenQASM 3 (or 2) program ``text`` into the plain form that
    ``qasm3_to_gate_sequence`` reads: loops unrolled, constants folded, parameterised gates,
    subroutines, modifiers, broadcasts and standard-library gates the importer does not know
    spelled out, barriers and delays dropped.

    ``inputs`` maps the names of the program's ``input`` declarations to numbers.
    """
    return _native.lower_qasm3(text, inputs)
