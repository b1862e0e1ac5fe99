// expect: 3:1: ValueError: unitary matrix dimension 3 must be a power of two
qubit[2] q;
unitary(1,0, 0,0, 0,0, 0,0, 1,0, 0,0, 0,0, 0,0, 1,0) q[0], q[1];
