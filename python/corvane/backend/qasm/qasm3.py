"""OpenQASM 3.0 ↔ GateSequence bidirectional converter."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Mapping, Optional, Sequence, Tuple, Union

from corvane import _native
from corvane.backend.gatesequence.gatesequence import GateSequence

if TYPE_CHECKING:
    from corvane._native import ExportableSequence

__all__ = ["gate_sequence_to_qasm3", "qasm3_to_gate_sequence", "lower_qasm3"]


def gate_sequence_to_qasm3(gs: ExportableSequence, qreg_name: str = "q", creg_name: str = "c",
                           num_clbits: Optional[int] = None,
                           qregs: Optional[Sequence[Tuple[str, int]]] = None,
                           cregs: Optional[Sequence[Tuple[str, int]]] = None) -> str:
    """Returns ``gs`` as one complete OpenQASM 3.0 program.

    ``gs``: a ``GateSequence`` (or any object with ``data()``, a list of ``QuantumGate``,
    and ``_num_qubits``, an int). ``qreg_name`` and ``creg_name`` (str) name the single
    registers used when ``qregs`` or ``cregs`` are None. ``num_clbits`` (int or None) is the
    number of classical bits to declare, raised to what the measurements need. ``qregs`` and
    ``cregs`` (lists or tuples of ``(name, size)`` pairs, or None) lay the qubits and bits out
    over named registers, in order; they must cover every index used.
    """
    return _native.gate_sequence_to_qasm3(gs, qreg_name, creg_name, num_clbits, qregs, cregs)


def qasm3_to_gate_sequence(code: str) -> GateSequence:
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


PathText = Union[str, "os.PathLike[str]"]


# A path as text; anything else is passed on as it is, for the core to name what it takes.
def _path_text(path: Any) -> Any:
    return os.fspath(path) if isinstance(path, os.PathLike) else path


def lower_qasm3(text: str, inputs: Optional[Mapping[str, Union[int, float]]] = None, *,
                include_paths: Optional[Sequence[PathText]] = None,
                source_path: Optional[PathText] = None) -> str:
    """Rewrites the OpenQASM 3 (or 2) program ``text`` (str) into the plain form that
    ``qasm3_to_gate_sequence`` reads: loops unrolled, constants folded, parameterised gates,
    subroutines, modifiers, broadcasts and standard-library gates the importer does not know
    spelled out, barriers and delays dropped.

    ``inputs`` (a dict, or None) maps the names of the program's ``input`` declarations (str)
    to their values (int or float).

    ``include "name";`` of a file other than the standard libraries reads that file as if
    its text stood there. It is looked for in the folder of the including file (for the
    program itself, that of ``source_path``, a str or path, or none when None), then in each
    folder of ``include_paths`` (a list or tuple of str or paths), in order. Paths are used as
    written. An error in an included file has the file's path as its ``file`` attribute
    (None for the program itself), beside ``line`` and ``column``.
    """
    folders: Any = include_paths
    if isinstance(include_paths, (list, tuple)):
        folders = [_path_text(folder) for folder in include_paths]
    return _native.lower_qasm3(text, inputs, folders, _path_text(source_path))
