// expect: 3:1: ValueError: Unknown qubit register: 'r'
qubit[2] q;
h r[0];
