// expect: 6:3: ValueError: Unknown local qubit: 'b'
// Inside a definition the place is that of the body's statement.
qubit[1] q;
gate g a {
  h a;
  cx a, b;
}
g q[0];
