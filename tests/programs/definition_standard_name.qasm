// expect: ok
// A definition named like a standard gate keeps that gate's operand layout.
qubit[2] q;
gate h a { x a; }
h q[1];
