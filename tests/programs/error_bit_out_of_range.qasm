// expect: 4:1: ValueError: Index 2 out of range for bit register c[2]
qubit[1] q;
bit[2] c;
c[2] = measure q[0];
