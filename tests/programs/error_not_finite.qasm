// expect: 3:4: ValueError: QASM gate parameter must be finite; got '1e999'
qubit[1] q;
rz(1e999) q[0];
