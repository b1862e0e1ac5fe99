// expect: 3:1: ValueError: Unclosed parameter list in: 'rz(pi/2 q[0]'
qubit[1] q;
rz(pi/2 q[0]
