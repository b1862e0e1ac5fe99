// expect: 3:17: ValueError: Circular gate definition detected: 'g' calls itself directly or indirectly.
qubit[1] q;
gate g a { h a; g a; }
g q[0];
