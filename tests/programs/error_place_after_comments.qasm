// expect: 5:9: ValueError: Index 4 out of range for qubit register q[1]
// The place is the statement's first character, after the comments before it.
qubit[1] q;
// é ;
/* é */ h
  q[4];
