// expect: 3:4: ValueError: Unsupported binary operator: Pow
qubit[1] q;
rz(2**3) q[0];
