// expect: 5:1: ValueError: Unsupported classical operand form: 'measure q[0] -> c[0]'
// The assignment form wins; its bit operand ends at the first "= measure".
qubit[3] q;
bit[3] c;
measure q[0] -> c[0] = measure q[1];
