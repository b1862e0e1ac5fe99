// expect: 6:17: ValueError: Circular gate definition detected: 'p' calls itself directly or indirectly.
// The cycle is named by the definition on it, not by the caller that reaches it, and placed
// at the call that closes it.
qubit[1] q;
gate p a { h a; r a; }
gate r a { x a; p a; }
gate s a { p a; }
s q[0];
