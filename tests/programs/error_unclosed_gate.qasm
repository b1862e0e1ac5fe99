// expect: 3:10: ValueError: Unclosed gate body for g
qubit[1] q;
gate g a { h a;
g q[0];
