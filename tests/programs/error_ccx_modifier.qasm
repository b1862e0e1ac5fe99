// expect: 3:1: ValueError: ccx already encodes controls and cannot use ctrl modifiers
qubit[4] q;
ctrl @ ccx q[0], q[1], q[2], q[3];
