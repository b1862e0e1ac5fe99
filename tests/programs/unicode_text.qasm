// expect: ok
// Unicode blanks separate tokens, and digits of any script index registers.
qubit[3] q;
h q[٢];
cx q [ ١ ] ,　q[0];
rz(١.5) q[0];
