// expect: 4:1: ValueError: Control count mismatch for 'h q[0], q[1]': ctrl_cnt=1, mods=[]
qubit[3] q;
bit[3] c;
h q[0], q[1];
