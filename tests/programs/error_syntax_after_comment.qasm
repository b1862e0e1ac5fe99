// expect: 2:24: SyntaxError: invalid syntax
qubit[1] q; rz(/* é */ pi +) q[0];
