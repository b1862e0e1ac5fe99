// expect: 3:4: ZeroDivisionError: float division by zero
qubit[1] q;
rz(pi/(1-1)) q[0];
