// expect: 3:4: ValueError: Unknown name in expression: tau
qubit[1] q;
rz(tau/2) q[0];
