// expect: ok
// Indexed uses of declared registers inside a body stay global.
qubit[3] q;
gate touch a { h a; x q[2]; }
touch q[0];
touch q[1];
