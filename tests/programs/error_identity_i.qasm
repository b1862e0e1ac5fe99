// expect: 3:1: ValueError: OpenQASM 3.0 identity gate is 'id', not 'i'.
qubit[1] q;
i q[0];
