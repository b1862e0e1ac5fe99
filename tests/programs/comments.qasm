// expect: ok
OPENQASM 3.0; // version
/* a block comment
   over two lines; with a semicolon */
qubit[2] q; /* inline */ h q[0];
x q[1]; // x q[0];
/* a block comment */ // and a line comment after it
cx q[0],/**/q[1];
