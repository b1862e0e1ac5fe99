// expect: 3:1: ValueError: unitary gate requires flattened matrix parameters
qubit[1] q;
unitary q[0];
