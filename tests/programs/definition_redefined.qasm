// expect: ok
// A later definition of a name replaces the earlier one.
qubit[1] q;
gate g a { x a; }
gate g a { h a; z a; }
g q[0];
