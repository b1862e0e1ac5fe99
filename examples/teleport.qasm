// Quantum teleportation of one of two states, chosen by a flag qubit.
// Measurements are deferred: the corrections are controlled gates on the receiver.
OPENQASM 3.0;
include "stdgates.inc";

// Prepares the Bell pair (|00> + |11>) / sqrt(2) on a and b.
gate bell a, b {
  h a;
  cx a, b;
}

qubit[1] flag;
qubit[3] q;
bit[2] c;
bit[1] received;

// The state to send on q[0]: ry(pi/2)|0> when the flag is 0, rx(pi/2)|0> when it is 1.
h flag[0];
negctrl @ ry(pi/2) flag[0], q[0];
ctrl @ rx(pi/2) flag[0], q[0];

// Share a Bell pair, then measure q[0] and q[1] in the Bell basis.
bell q[1], q[2];
cx q[0], q[1];
h q[0];

// Corrections: q[2] now holds the state that q[0] held.
ctrl @ x q[1], q[2];
ctrl @ z q[0], q[2];

measure q[0] -> c[0];
c[1] = measure q[1];
received[0] = measure q[2];
