// expect: ok
// Carriage returns go with the comments and count as blanks elsewhere.
qubit[2] q;
h q[0]; // note
cx q[0], q[1];
