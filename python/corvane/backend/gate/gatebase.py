"""Gate records: ``QuantumGate``, one operation of a circuit.

A record holds ``id`` (str), ``target``, ``control`` and ``control_state`` (tuples of
integers), ``parameter`` (None, a number, str, a list or tuple, or a numpy array),
``classical_target`` (tuple or None), ``block_gate_sequence`` (tuple of records or None),
``name`` (str or None), ``matrix`` and ``stored_matrix`` (complex numpy arrays or None) and
``has_stored_matrix`` (whether ``stored_matrix`` is set; setting it false drops the matrix),
``condition`` and ``else_gate_sequence``. Values are converted when they are set, so later
changes to a list that was passed in do not reach the record.

A record with id ``"if"`` and a ``condition`` runs its block when the condition holds and
its ``else_gate_sequence`` otherwise; one with id ``"while"`` runs its block while the
condition holds. A condition is ``((bits...), comparison, value)``: the classical bits it
reads, numbered as ``classical_target`` numbers them, least significant first (at most 64),
one of ``"=="``, ``"!="``, ``"<"``, ``"<="``, ``">"``, ``">="``, and an unsigned value
that fits the bits. The bodies use the sequence's own qubit and bit indices; the record's
``target`` is the qubits they act on, ascending (computed when the record is made without
one, and again whenever a body changes); such a record takes no controls. Breaking these
rules is a ``ValueError`` (``NotImplementedError`` for more than 64 bits).
``QuantumGate(id="if", condition=((0,), "==", 1), block_gate_sequence=[...])``.

``block_gate_sequence`` (and ``else_gate_sequence`` likewise) reads back as the same tuple on every read, and its records belong
to the block: a change to one of them (``blk.block_gate_sequence[0].id = "x"``) changes
the block, at any depth, and only that block, even where imported calls of one definition
share it. Assigning a new sequence takes copies of its records; the records read before
then are records of their own from that moment.

Records are values: ``==`` compares every attribute, parameters with their kinds (``1``,
``1.0`` and ``True`` are different parameters, as are a list and a tuple), and records are
unhashable; ``copy.copy``, ``copy.deepcopy`` and pickling give records of their own.

The records of an imported sequence share the memory the importer filled; it is freed when
the last of them goes.
"""

from corvane._native import QuantumGate

__all__ = ["QuantumGate"]
