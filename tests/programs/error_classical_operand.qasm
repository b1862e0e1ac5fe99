// expect: 3:1: ValueError: Unsupported classical operand form: 'c'
qubit[1] q;
measure q[0] -> c;
