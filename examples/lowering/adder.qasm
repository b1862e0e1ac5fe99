// An OpenQASM 2 program: old-style registers, the gates of qelib1.inc and a barrier.
OPENQASM 2.0;
include "qelib1.inc";
qreg a[2];
qreg b[2];
creg sum[2];
u3(pi, 0, pi) a[0];
u1(pi / 4) b[1];
CX a[0], b[0];
ccx a[1], b[1], b[0];
cu1(pi / 2) a[0], b[1];
barrier a, b;
measure b -> sum;
