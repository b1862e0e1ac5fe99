// expect: 4:1: ValueError: cswap already encodes controls and cannot use ctrl modifiers
qubit[3] q;
bit[3] c;
negctrl @ cswap q[0], q[1], q[2];
