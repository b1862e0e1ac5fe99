// expect: 2:32: ValueError: Index 7 out of range for qubit register q[1]
qubit[1] q; h q[0]; cx q[0];;; x q[7];
