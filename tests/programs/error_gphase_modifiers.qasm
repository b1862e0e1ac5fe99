// expect: 4:1: ValueError: gphase controls mismatch: mods=['ctrl', 'negctrl'], operands=['q[1]']
qubit[3] q;
bit[3] c;
ctrl @ negctrl @ gphase(1) q[1];
