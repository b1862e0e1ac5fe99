// expect: 3:12: ValueError: Local gate argument 'a' is not indexable
qubit[2] q;
gate g a { h a[0]; }
g q[0];
