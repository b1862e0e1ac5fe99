// expect: 4:12: ValueError: Unknown local qubit: 'q'
// The body's first error comes before the cycle it would reach later.
qubit[1] q;
gate t a { h q; }
gate u a { t a; u a; }
u q[0];
