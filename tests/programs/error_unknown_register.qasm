// expect: ValueError: Unknown qubit register: 'r'
qubit[2] q;
h r[0];
