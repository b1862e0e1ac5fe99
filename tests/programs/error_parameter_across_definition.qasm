// expect: 4:23: ZeroDivisionError: float division by zero
// A parameter's place is its expression's first character, past a definition inside it.
qubit[1] q; rx(
 gate g a { h a; } 1, 2/0) q[0];
