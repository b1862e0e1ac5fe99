// expect: ok
// A definition that calls itself does no harm while nobody calls it.
qubit[1] q;
gate loop a { loop a; }
h q[0];
