// Quantum teleportation with measured corrections: q[0]'s state is measured away in the
// Bell basis and rebuilt on q[2] by gates chosen by the two results, as the protocol runs
// on hardware with classical feed-forward (teleport.qasm defers the measurements instead).
OPENQASM 3.0;
include "stdgates.inc";

qubit[3] q;
bit[2] c;
bit received;

// The state to send: ry(pi/3)|0>.
ry(pi/3) q[0];

// Share a Bell pair between q[1] and q[2], then measure q[0] and q[1] in the Bell basis.
h q[1];
cx q[1], q[2];
cx q[0], q[1];
h q[0];
c[0] = measure q[0];
c[1] = measure q[1];

// Corrections by the results: q[2] now holds the state that q[0] held.
if (c[1]) x q[2];
if (c[0]) z q[2];

received = measure q[2];
