// expect: 3:4: SyntaxError: invalid syntax
qubit[1] q;
rz(pi +) q[0];
