"""OpenQASM 3.0 ↔ GateSequence bidirectional converter."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, List, Mapping, Optional, Sequence, Tuple, Union

from corvane import _native
from corvane.backend.gatesequence.gatesequence import GateSequence

if TYPE_CHECKING:
    from corvane._native import ExportableSequence

__all__ = ["gate_sequence_to_qasm3", "qasm3_to_gate_sequence", "lower_qasm3",
           "lower_to_gate_sequence", "bind_parameters", "free_parameters"]


def gate_sequence_to_qasm3(gs: ExportableSequence, qreg_name: str = "q", creg_name: str = "c",
                           num_clbits: Optional[int] = None,
                           qregs: Optional[Sequence[Tuple[str, int]]] = None,
                           cregs: Optional[Sequence[Tuple[str, int]]] = None, *,
                           full_language: bool = False) -> str:
    """Returns ``gs`` as one complete OpenQASM 3.0 program.

    ``gs``: a ``GateSequence`` (or any object with ``data()``, a list of ``QuantumGate``,
    and ``_num_qubits``, an int). ``qreg_name`` and ``creg_name`` (str) name the single
    registers used when ``qregs`` or ``cregs`` are None. ``num_clbits`` (int or None) is the
    number of classical bits to declare, raised to what the measurements need. ``qregs`` and
    ``cregs`` (lists or tuples of ``(name, size)`` pairs, or None) lay the qubits and bits out
    over named registers, in order; they must cover every index used.

    ``full_language`` (bool, keyword only) writes the language beyond the gate subset, for
    ``lower_to_gate_sequence`` to read back record for record: conditioned records as
    ``if (c[0] == 1) { ... } else { ... }`` and ``while (c == 0) { ... }`` with the
    program's register names, ``reset``, ``unitary`` records with their matrix, and numbers in
    the shortest form that reads back to the same float. It raises ValueError for what would
    not read back: a register name that is not an identifier, is a reserved word or appears
    twice; a str parameter that is not one expression; a parameter count the gate does not
    take; a condition on bits that are not one register, one bit or a run of one register's
    bits.
    """
    return _native.gate_sequence_to_qasm3(gs, qreg_name, creg_name, num_clbits, qregs, cregs,
                                          full_language)


def qasm3_to_gate_sequence(code: str) -> GateSequence:
    """Reads the OpenQASM 3.0 program ``code`` (str) into a new ``GateSequence``.

    The sequence carries the declared layout: ``_qasm_quantum_registers`` always, and
    ``_qasm_classical_registers`` with ``_qasm_measure_map`` when the program declares bits
    or measures.
    """
    return _sequence_of(_native.qasm3_to_gate_sequence(code))


# The GateSequence of what the core read: (num_qubits, gates, quantum registers, classical
# registers, measure map, free inputs), the last four None where the program left them unset.
def _sequence_of(read: Tuple[int, Any, Any, Any, Any, Any]) -> GateSequence:
    num_qubits, gates, qregs, cregs, measure_map, inputs = read
    gs = GateSequence(num_qubits)
    gs._gates = gates  # the core's own new list: adopted rather than copied
    if qregs is not None:
        gs._qasm_quantum_registers = qregs
    if cregs is not None:
        gs._qasm_classical_registers = cregs
    if measure_map is not None:
        gs._qasm_measure_map = measure_map
    if inputs is not None:
        gs._qasm_inputs = inputs
    return gs


PathText = Union[str, "os.PathLike[str]"]


# A path as text; anything else is passed on as it is, for the core to name what it takes.
def _path_text(path: Any) -> Any:
    return os.fspath(path) if isinstance(path, os.PathLike) else path


def lower_qasm3(text: str, inputs: Optional[Mapping[str, Union[int, float, str]]] = None, *,
                include_paths: Optional[Sequence[PathText]] = None,
                source_path: Optional[PathText] = None) -> str:
    """Rewrites the OpenQASM 3 (or 2) program ``text`` (str) into the plain form that
    ``qasm3_to_gate_sequence`` reads: loops unrolled, constants folded, parameterised gates,
    subroutines, modifiers, broadcasts and standard-library gates the importer does not know
    spelled out, barriers and delays dropped.

    ``inputs`` (a dict, or None) maps the names of the program's ``input`` declarations (str)
    to their values: int or float, or a str holding a constant expression (``"pi/2"``,
    ``"2*3"``, ``"true"``) read as the declared type reads it. A name the program does not
    declare is a ValueError.

    ``include "name";`` of a file other than the standard libraries reads that file as if
    its text stood there. It is looked for in the folder of the including file (for the
    program itself, that of ``source_path``, a str or path, or none when None), then in each
    folder of ``include_paths`` (a list or tuple of str or paths), in order. Paths are used as
    written. An error in an included file has the file's path as its ``file`` attribute
    (None for the program itself), beside ``line`` and ``column``.
    """
    return _native.lower_qasm3(text, inputs, _folders_text(include_paths), _path_text(source_path))


# The folders of a search path as text; anything else is passed on as it is.
def _folders_text(include_paths: Any) -> Any:
    if isinstance(include_paths, (list, tuple)):
        return [_path_text(folder) for folder in include_paths]
    return include_paths


def lower_to_gate_sequence(text: str,
                           inputs: Optional[Mapping[str, Union[int, float, str]]] = None, *,
                           include_paths: Optional[Sequence[PathText]] = None,
                           source_path: Optional[PathText] = None) -> GateSequence:
    """Reads the OpenQASM 3 (or 2) program ``text`` (str), as written in practice, into a new
    ``GateSequence``: record for record what ``qasm3_to_gate_sequence`` reads from
    ``lower_qasm3(text, ...)``, with the same register layout and measure map.

    ``inputs`` (a dict, or None) maps the names of the program's ``input`` declarations (str)
    to their values, as for ``lower_qasm3``. A ``float`` or ``angle`` input given no value
    stays free: a gate parameter that depends on it is a str entry of the record's parameter
    tuple, an OpenQASM expression over the input names (``"2*theta + 1.5707963267948966"``),
    and ``_qasm_inputs`` lists the free inputs used as ``(name, type)`` pairs
    (``("theta", "float[64]")``); ``bind_parameters`` gives them values later. A free value
    that lowering would need (a loop bound, a condition, ...) is a ValueError naming the
    input. ``include_paths`` (a list or tuple of str or paths) and
    ``source_path`` (a str or path, or None) say where included files are found, as for
    ``lower_qasm3``.
    """
    return _sequence_of(_native.lower_to_gate_sequence(text, inputs, _folders_text(include_paths),
                                                       _path_text(source_path)))


def bind_parameters(gs: ExportableSequence,
                    inputs: Mapping[str, Union[int, float, str]]) -> GateSequence:
    """A new ``GateSequence``: ``gs`` with every str parameter entry over its free inputs
    (``gs._qasm_inputs``) evaluated with ``inputs``, a dict from the input names (str) to
    their values (int or float, or a str holding a constant expression, as for
    ``lower_qasm3``). The numbers are exactly those of ``lower_to_gate_sequence`` given the
    same values (an ``angle[n]`` input rounded to its width as there); the register layout
    attributes are copied and no ``_qasm_inputs`` is left.

    Raises ValueError for a free input without a value, a name that is no free input of
    ``gs`` and an expression that cannot be evaluated (its message quotes the expression).
    """
    num_qubits, gates = _native.bind_parameters(gs, inputs)
    bound = GateSequence(num_qubits)
    bound._gates = gates
    for name in ("_qasm_quantum_registers", "_qasm_classical_registers", "_qasm_measure_map"):
        if hasattr(gs, name):
            setattr(bound, name, list(getattr(gs, name)))
    return bound


def free_parameters(gs: ExportableSequence) -> List[str]:
    """The names of the free inputs of ``gs`` (``gs._qasm_inputs``), sorted."""
    return sorted({name for name, _ in getattr(gs, "_qasm_inputs", ())})

