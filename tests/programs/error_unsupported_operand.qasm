// expect: 3:1: ValueError: Unsupported operand form: 'q[0:1]'
qubit[2] q;
h q[0:1];
