// expect: 3:1: ValueError: gphase controls mismatch: mods=[], operands=['q[0]']
qubit[1] q;
gphase(pi) q[0];
