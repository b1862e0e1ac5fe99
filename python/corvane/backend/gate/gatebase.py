"""Gate records: ``QuantumGate``, one operation of a circuit.

A record holds ``id`` (str), ``target``, ``control`` and ``control_state`` (tuples of
integers), ``parameter`` (None, a number, str, a list or tuple, or a numpy array),
``classical_target`` (tuple or None), ``block_gate_sequence`` (tuple of records or None),
``name`` (str or None), ``matrix`` and ``stored_matrix`` (complex numpy arrays or None) and
``has_stored_matrix`` (whether ``stored_matrix`` is set; setting it false drops the matrix). Values are converted
when they are set, so later changes to a list that was passed in do not reach the record,
and nested records read from ``block_gate_sequence`` are copies.

Records are values: ``==`` compares every attribute, parameters with their kinds (``1``,
``1.0`` and ``True`` are different parameters, as are a list and a tuple), and records are
unhashable; ``copy.copy``, ``copy.deepcopy`` and pickling give records of their own.

The records of an imported sequence share the memory the importer filled; it is freed when
the last of them goes.
"""

from corvane._native import QuantumGate

__all__ = ["QuantumGate"]
