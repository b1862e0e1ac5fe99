// expect: 4:8: ValueError: Unbalanced parentheses
qubit[1] q;
h q[0];
rz(0.5)) q[0];
