// expect: 4:1: ValueError: unitary parameter count 6 does not encode a square matrix
qubit[3] q;
bit[3] c;
unitary(1,0,0,0,0,0) q[0];
