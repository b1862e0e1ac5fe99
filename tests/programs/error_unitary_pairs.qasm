// expect: 3:1: ValueError: unitary parameters must be real/imaginary pairs
qubit[1] q;
unitary(1, 0, 0) q[0];
