// expect: 3:39: ValueError: Index 3 out of range for qubit register q[1]
// A definition cut out of the text does not shift the places after it.
qubit[1] q; h q[0]; gate g a { h a; } x
 q[3];
