"""Stored gate matrices: ``gate_set`` maps a lower-case gate id to a fixed complex numpy
array, or to a function that takes the gate's parameter and returns one. It answers
``get(id, default=None)``, ``gate_set[id]``, ``in`` and ``len``, and iterates over its ids
(``keys()`` lists them)."""

from corvane._native import gate_set

__all__ = ["gate_set"]
