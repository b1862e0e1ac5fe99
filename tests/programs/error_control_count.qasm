// expect: 3:1: ValueError: Control count mismatch for 'ctrl @ h q[0], q[1], q[2]': ctrl_cnt=2, mods=['ctrl']
qubit[3] q;
ctrl @ h q[0], q[1], q[2];
