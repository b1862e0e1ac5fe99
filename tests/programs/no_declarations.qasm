// expect: ok
// Without declarations the register "q" is sized from its largest index.
h q[0];
cx q[0], q[4];
rz(pi/8) q[2];
