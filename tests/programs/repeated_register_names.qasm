// expect: ok
// reimport: ValueError: Index 1 out of range for bit register c[1]
// A name declared twice takes two stretches of indices but resolves to the later one.
// Bit 1 lies in the first stretch and is exported as "c[1]", which reads back against the
// one-bit second stretch.
qubit[1] q;
bit[2] c;
bit[1] c;
measure q[0] -> x[1];
