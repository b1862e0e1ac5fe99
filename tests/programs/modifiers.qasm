// expect: ok
qubit[4] q;
ctrl @ x q[0], q[1];
negctrl @ x q[0], q[1];
ctrl @ negctrl @ ctrl @ x q[0], q[1], q[2], q[3];
negctrl@rz(pi/4) q[3], q[0];
ctrl @ U(pi, 0, pi) q[1], q[2];
ctrl @ swap q[0], q[1], q[2];
ctrl @ p(0.5) q[2], q[3];
