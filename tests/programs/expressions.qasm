// expect: ok
qubit[1] q;
rz(-pi/2) q[0];
rz((pi + 1) / 2) q[0];
rz(1_000e-3) q[0];
rz(2*-3) q[0];
rz(--1) q[0];
rz(0x10) q[0];
rz(True) q[0];
rz(  .5  ) q[0];
rz(pi/4*3) q[0];
rz(007) q[0];
