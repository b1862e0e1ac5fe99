// expect: 3:1: ValueError: Scalar qubit operand 'q' refers to qubit[2] register
qubit[2] q;
h q;
