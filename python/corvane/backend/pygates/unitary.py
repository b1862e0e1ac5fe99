"""Stored gate matrices: ``gate_set`` maps a lower-case gate id to a fixed complex numpy
array, or to a function that takes the gate's parameter and returns one."""

from corvane._native import gate_set

__all__ = ["gate_set"]
