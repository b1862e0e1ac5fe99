"""Every program of the project's folder of .qasm test programs, through the module and
through the command-line tool: both must reach the outcome the program states. The module's
records and the tool's JSON form read the same values alike."""

import builtins
import json
import re
import subprocess
import sys

import numpy as np
import pytest

from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence.gatesequence import GateSequence
from corvane.backend.qasm import qasm3
from helpers import PROGRAMS_DIR, tool_path

PROGRAMS = sorted(PROGRAMS_DIR.glob("*.qasm"))


def directive(text, line, prefix):
    lines = text.split("\n")
    if line < len(lines) and lines[line].startswith(prefix):
        return lines[line][len(prefix):].rstrip("\r")
    return None


def error_outcome(error):
    """"<Kind>: <message>", behind "<line>:<column>: " when the error has a place."""
    kind = type(error).__name__
    # Only the built-in exception of the converter's kind may arrive, never a subclass.
    assert getattr(builtins, kind, None) is type(error), f"unexpected exception {error!r}"
    if isinstance(error, SyntaxError):
        assert error.lineno is None and error.offset is None  # they would change str()
    if error.line is None:
        assert error.column is None and not getattr(error, "__notes__", None)
        return f"{kind}: {error}"
    if sys.version_info >= (3, 11):
        assert error.__notes__ == [f"line {error.line}, column {error.column}"]
    return f"{error.line}:{error.column}: {kind}: {error}"


def export_with_layout(gs):
    """What the tool's convert writes: the imported layout, other arguments at defaults."""
    return qasm3.gate_sequence_to_qasm3(
        gs, qregs=gs._qasm_quantum_registers,
        cregs=getattr(gs, "_qasm_classical_registers", None))


def module_convert(text):
    """(import outcome, export outcome, exported text); an outcome is "ok" or
    "<Kind>: <message>", and the text is None unless both succeeded."""
    try:
        gs = qasm3.qasm3_to_gate_sequence(text)
    except Exception as error:  # every kind is compared, not handled
        return error_outcome(error), None, None
    try:
        return "ok", "ok", export_with_layout(gs)
    except Exception as error:
        return "ok", error_outcome(error), None


def tool_convert(path):
    tool = tool_path()
    run = subprocess.run([str(tool), "convert", "--strict", str(path)], capture_output=True,
                         timeout=60)
    assert run.returncode in (0, 1), run.stderr
    if run.returncode == 0:
        assert run.stderr == b""
        return run.stdout.decode("utf-8")
    assert run.stdout == b""
    # A place shows behind the file name as given, which the outcome leaves out.
    return run.stderr.decode("utf-8").rstrip("\n").removeprefix(f"{path}:")


def test_the_folder_has_programs():
    assert len(PROGRAMS) > 10, f"no test programs in {PROGRAMS_DIR}"


@pytest.mark.parametrize("path", PROGRAMS, ids=lambda p: p.name)
def test_module_and_tool_agree(path):
    raw = path.read_bytes()
    expected_import = directive(raw.split(b"\n", 1)[0].decode("utf-8"), 0, "// expect: ")
    assert expected_import, "the first line must state the expected outcome"
    tool_outcome = tool_convert(path)
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError:
        # A str cannot hold invalid UTF-8, so only the tool can be given this program.
        assert tool_outcome == expected_import
        return
    imported, exported, converted = module_convert(text)
    assert imported == expected_import
    assert exported == ((directive(text, 1, "// export: ") or "ok") if imported == "ok" else None)
    # The tool's convert shows the first failure, or the exported text.
    assert (converted or exported or imported) == tool_outcome
    if converted is not None:
        # A program may state how the import of its export fails, where the export of what
        # it imports cannot read back; every other export must read back unchanged.
        reimport = directive(text, 1, "// reimport: ")
        if reimport:
            # The export has places of its own, which the program cannot state.
            assert re.sub(r"^\d+:\d+: ", "", module_convert(converted)[0]) == reimport
        else:
            assert module_convert(converted) == ("ok", "ok", converted), "the export must read back"


# control_state entries as the module takes them, and the same values in the JSON form.
@pytest.mark.parametrize("given, as_json", [
    ([1, 1.0, True, 0, 0.0, False, 2, -1, 0.5, -0.0, 1e300, 1 + 1e-15], None),
    (np.array([1.0, 0.5, 0.0]), [1.0, 0.5, 0.0]),
    (np.array([True, False]), [True, False]),
    ([np.float32(1), np.int64(2), np.bool_(True), np.float64(0.99), np.uint8(1)],
     [1.0, 2, True, 0.99, 1]),
])
def test_control_states_read_as_the_tool_reads_them(given, as_json):
    as_json = given if as_json is None else as_json
    n = len(as_json)
    gate = {"id": "h", "target": [n], "control": list(range(n))}
    gs = GateSequence(n + 1)
    gs.add_gate(QuantumGate(control_state=given, **gate))
    text = qasm3.gate_sequence_to_qasm3(gs)
    as_sequence = {"num_qubits": n + 1, "gates": [dict(gate, control_state=as_json)]}
    run = subprocess.run([str(tool_path()), "export"], input=json.dumps(as_sequence).encode(),
                         capture_output=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.decode("utf-8") == text
    # Only a state equal to 1 is a control on one.
    modifiers = "".join("ctrl @ " if state == 1 else "negctrl @ " for state in as_json)
    assert text.splitlines()[-1].startswith(modifiers + "h q[0], ")
