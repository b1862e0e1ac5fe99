// expect: 3:1: ValueError: Not enough operands for swap: ['q[0]']
qubit[2] q;
swap q[0];
