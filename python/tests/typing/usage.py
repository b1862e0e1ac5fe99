# A user's code as a type checker sees it. Every line marked "error" must be reported, and
# nothing else (checked by test_typing.py with mypy --strict).
from typing import List, Optional, Tuple

import numpy as np

import corvane
from corvane import _tool
from corvane import GateSequence, QuantumGate, gate_sequence_to_qasm3, qasm3_to_gate_sequence
from corvane.backend.pygates.unitary import gate_set

gs = GateSequence(2)
gs.add_gate(QuantumGate(id="h", target=[0]))
gs.add_gate(QuantumGate(id="rx", target=(1,), control=[0], control_state=[1], parameter=0.5))
gs.add_gate(QuantumGate(id="measure", target=[0], classical_target=[0], name="measure"))
first: QuantumGate = gs[0]
head: List[QuantumGate] = gs[:2]
count: int = gs.num_qubits + len(gs)
text: str = gate_sequence_to_qasm3(gs, qregs=[("data", 2)], num_clbits=1)
back = qasm3_to_gate_sequence(text)
ids: List[str] = [g.id for g in back]
targets: Tuple[int, ...] = back[0].target
bits: Optional[Tuple[int, ...]] = back[2].classical_target
block = QuantumGate(id="block", target=[0], block_gate_sequence=[first])
members = block.block_gate_sequence
if members is not None:
    members[0].id = "x"
branch = QuantumGate(id="if", condition=((0,), "==", 1), block_gate_sequence=[first],
                     else_gate_sequence=[])
tested = branch.condition
if tested is not None and branch.else_gate_sequence is not None:
    tested_bits: Tuple[int, ...] = tested[0]
    branch.else_gate_sequence  # noqa: B018
# Setters take more than getters give (any iterable, anything numpy reads); a checker
# without asymmetric properties (mypy before 1.14) holds them to the getter's type.
first.target = (1,)
first.parameter = [0.5, "theta"]
first.stored_matrix = np.eye(2, dtype=np.complex128)
lowered: str = corvane.lower_qasm3("qubit q; rx(t) q;", {"t": 0.5})
read: GateSequence = corvane.lower_to_gate_sequence("qubit q; rx(t) q;", {"t": 0.5},
                                                  include_paths=["lib"])
matrix = gate_set.get("h")
known: List[str] = list(gate_set)
version: str = corvane.__version__
launch = _tool.main
same: bool = back == gs and first != block
unitary = corvane.circuit_unitary(gs)

QuantumGate("h")  # error
QuantumGate(id=5)  # error
QuantumGate(id="if", condition=(0, "==", 1))  # error
gs.num_qubits = 3  # error
gate_sequence_to_qasm3(gs, qregs=5)  # error
qasm3_to_gate_sequence(b"qubit q;")  # error
gs.add_gate("h")  # error
wrong: str = gs[0]  # error
