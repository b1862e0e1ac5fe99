// expect: ok
// A program whose registers hold no qubit is sized from its uses of q.
qubit[0] q;
h q[2];
