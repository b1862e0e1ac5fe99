// expect: ValueError: Unclosed gate body for g
qubit[1] q;
gate g a { h a;
g q[0];
