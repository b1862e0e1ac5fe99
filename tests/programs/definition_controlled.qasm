// expect: ok
qubit[4] q;
gate flip a, b { x a; cx a, b; }
ctrl @ flip q[0], q[1], q[2];
negctrl @ ctrl @ flip q[3], q[0], q[1], q[2];
