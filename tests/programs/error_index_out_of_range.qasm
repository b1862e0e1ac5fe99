// expect: 3:1: ValueError: Index 2 out of range for qubit register q[2]
qubit[2] q;
h q[2];
