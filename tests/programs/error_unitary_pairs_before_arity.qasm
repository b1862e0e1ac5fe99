// expect: 5:1: ValueError: unitary parameters must be real/imaginary pairs
// The matrix is decoded before the operands are split into controls and targets.
qubit[3] q;
bit[3] c;
ctrl @ unitary(1, 0, 0) q[0];
