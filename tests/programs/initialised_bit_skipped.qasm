// expect: ok
// "bit[2] c = measure q" is neither a declaration nor a measurement here: it is skipped.
qubit[2] q;
bit[2] c = measure q;
h q[0];
