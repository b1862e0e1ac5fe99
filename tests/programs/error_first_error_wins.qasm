// expect: 4:1: ValueError: Index 5 out of range for qubit register q[2]
qubit[2] q;
h q[0];
x q[5];
y q[7];
i q[0];
