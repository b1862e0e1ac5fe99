// expect: 4:1: ValueError: Control count mismatch for 'ctrl @ ctrl @ h q[0], q[1]': ctrl_cnt=1, mods=['ctrl', 'ctrl']
qubit[3] q;
bit[3] c;
ctrl @ ctrl @ h q[0], q[1];
