// expect: 2:19: ValueError: Register size too large: 99999999999999999999
qubit[2] q; qubit[99999999999999999999] r;
