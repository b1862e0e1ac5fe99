// expect: 3:11: ValueError: Invalid identifier: '1b'
qubit[2] q;
gate g a, 1b { h a; }
