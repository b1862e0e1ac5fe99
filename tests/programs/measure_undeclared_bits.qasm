// expect: ok
// Without bit declarations a bit index stands for itself, and "c" is sized to fit.
qubit[2] q;
measure q[0] -> c[3];
measure q[1] -> bits[1];
