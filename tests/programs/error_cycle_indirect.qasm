// expect: 3:16: ValueError: Circular gate definition detected: 'second' calls itself directly or indirectly.
qubit[1] q;
gate first a { second a; }
gate second a { first a; }
second q[0];
