"""Shared by the tests: where the sources and the tool are, and records as plain values."""

import os
import pathlib

import numpy as np
import pytest

import corvane

SOURCE_DIR = pathlib.Path(
    os.environ.get("CORVANE_QASM3_SOURCE_DIR") or pathlib.Path(__file__).resolve().parents[2])
PROGRAMS_DIR = SOURCE_DIR / "tests" / "programs"
EXAMPLES_DIR = SOURCE_DIR / "examples"


def tool_path():
    """The command-line tool: the one the test command names, which must exist, or else the
    one beside the build-tree package, without which the comparisons are skipped."""
    named = os.environ.get("CORVANE_QASM3_TOOL")
    if named:
        assert pathlib.Path(named).exists(), f"CORVANE_QASM3_TOOL names no file: {named}"
        return pathlib.Path(named)
    beside = pathlib.Path(corvane.__file__).resolve().parents[2] / "corvane-qasm3"
    if not beside.exists():
        pytest.skip(f"the command-line tool is not built at {beside}")
    return beside


def record_value(gate):
    """A gate record and its nested records as nested tuples, for comparing whole sequences."""
    matrix = gate.matrix
    return (
        gate.id, gate.target, gate.control, gate.control_state, _plain(gate.parameter),
        gate.classical_target, gate.name, _records(gate.block_gate_sequence),
        None if matrix is None else (matrix.shape, tuple(matrix.ravel())),
        gate.condition, _records(gate.else_gate_sequence),
    )


def _records(block):
    return None if block is None else tuple(record_value(g) for g in block)


def _plain(value):
    if isinstance(value, np.ndarray):
        return ("array", value.shape, tuple(value.ravel()))
    return (type(value).__name__, value)


def sequence_value(gs):
    return (gs._num_qubits, tuple(record_value(g) for g in gs.data()))
