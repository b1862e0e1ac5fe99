// expect: ok
// The fourth angle of cu is a global phase that the internal "u" does not carry.
qubit[2] q;
cu(0.1, 0.2, 0.3, 0.4) q[0], q[1];
cu(0.1, 0.2, 0.3) q[1], q[0];
