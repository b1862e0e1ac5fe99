"""The documented table of gate ids against the exporter and gate_set: every id the exporter
takes is listed, every listed id is taken and written under a name its row gives, and the
gate_set column is right."""

import re

import pytest

from corvane.backend.gate.gatebase import QuantumGate
from corvane.backend.gatesequence.gatesequence import GateSequence
from corvane.backend.pygates.unitary import gate_set
from corvane.backend.qasm.qasm3 import gate_sequence_to_qasm3
from helpers import SOURCE_DIR


def table_rows():
    section = (SOURCE_DIR / "docs" / "gate-ids.md").read_text(encoding="utf-8")
    header = "| id | written as | qubits | parameters | in `gate_set` |"
    lines = section[section.index(header):].split("\n")[2:]
    rows = []
    for line in lines:
        if not line.startswith("|"):
            break
        cells = [cell.strip() for cell in line.strip("|").split(" | ")]
        ids = re.findall(r"`([^`]+)`", cells[0])
        rows.append((ids, cells[1], cells[2], cells[3], cells[4]))
    return rows


ROWS = table_rows()
LISTED = [gid for ids, *_ in ROWS for gid in ids]


def export_one(gate):
    gs = GateSequence(3)
    gs.add_gate(gate)
    return gate_sequence_to_qasm3(gs)


def refused_as_unknown(gid):
    """Whether the exporter refuses `gid` as an id it does not know, whatever the record."""
    shapes = [{"target": [0]}, {"target": [1], "control": [0], "control_state": [1]},
              {"target": [0, 1]}]
    for shape in shapes:
        for parameter in (None, 0.5, [0.1, 0.2, 0.3]):
            try:
                export_one(QuantumGate(id=gid, parameter=parameter, **shape))
                return False
            except NotImplementedError as error:
                if str(error) != f"QASM 3.0 export does not support gate id '{gid}'":
                    return False
            except ValueError:
                return False
    return True


def names_in_the_sources():
    """Every word the vocabulary tables and the exporter quote: the ids they could take."""
    sources = [SOURCE_DIR / "src/backend/qasm/records/qasm3_vocabulary.hpp",
               *sorted((SOURCE_DIR / "src/backend/qasm/export").glob("*.cpp"))]
    words = set()
    for path in sources:
        words.update(re.findall(r'"([-\w]+)"', path.read_text(encoding="utf-8")))
    return sorted(words)


def test_every_id_the_exporter_takes_is_listed_once():
    assert len(LISTED) == len(set(LISTED))
    taken = [word for word in names_in_the_sources() if not refused_as_unknown(word)]
    assert sorted(taken) == sorted(LISTED)


def test_the_gate_set_column_is_right_and_complete():
    for ids, *_, in_gate_set in ROWS:
        for gid in ids:
            assert (gid in gate_set) == (in_gate_set == "yes"), gid
    assert set(gate_set) <= set(LISTED)


# The record a row's qubits and parameters columns describe.
SHAPES = {
    "one statement per target": {"target": [0]},
    "1 target": {"target": [0]},
    "controls, 1 target": {"target": [1], "control": [0], "control_state": [1]},
    "1 control, 1 target": {"target": [1], "control": [0], "control_state": [1]},
    "an even number of targets": {"target": [0, 1]},
    "2 targets": {"target": [0, 1]},
    "one or more targets": {"target": [0, 2]},
    "none (targets are not written)": {"target": []},
    "targets, with as many `classical_target` bits": {"target": [0, 1],
                                                      "classical_target": [1, 0]},
    "any": {"target": [0], "stored_matrix": [[0, 1], [1, 0]]},
    "its targets": {"target": [0], "block_gate_sequence": [QuantumGate(id="h", target=[0])]},
}
PARAMETERS = {"none": None, "none (the matrix)": None, "1 angle": 0.5,
              "3 angles": [0.1, 0.2, 0.3]}


@pytest.mark.parametrize("gid, written_as, qubits, parameters",
                         [(gid, *row[1:4]) for row in ROWS for gid in row[0]])
def test_each_id_is_written_under_a_name_its_row_gives(gid, written_as, qubits, parameters):
    record = QuantumGate(id=gid, parameter=PARAMETERS[parameters], **SHAPES[qubits])
    statements = export_one(record).split("\n\n")[-1]
    names = re.findall(r"`([^`(; ]+)", written_as)
    if written_as == "the same name":
        names = [gid]
    assert any(re.search(rf"(^|[ @]){re.escape(name)}[ (;]", statements, re.M) for name in names), \
        statements
