// expect: 3:1: ValueError: Cannot parse op name from: '1x q[0]'
qubit[1] q;
1x q[0];
