// expect: 3:12: ValueError: Unknown local qubit: 'q'
qubit q;
gate g a { cx a, q; }
g q;
