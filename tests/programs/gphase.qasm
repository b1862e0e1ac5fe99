// expect: ok
qubit[2] q;
gphase(pi/2);
ctrl @ gphase(pi) q[0];
negctrl @ ctrl @ gphase(-0.5) q[1], q[0];
h q[1];
