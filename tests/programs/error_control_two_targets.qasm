// expect: 5:1: ValueError: Control count mismatch for 'ctrl @ swap q[0], q[1]': ctrl_cnt=0, mods=['ctrl']
// swap takes two targets, so the modifier's control has no operand left.
qubit[3] q;
bit[3] c;
ctrl @ swap q[0], q[1];
