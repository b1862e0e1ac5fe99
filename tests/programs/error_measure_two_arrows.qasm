// expect: 5:1: ValueError: Unsupported classical operand form: 'c[1] -> c[2]'
// The operand before the arrow ends at the first arrow.
qubit[3] q;
bit[3] c;
measure q[0] -> c[1] -> c[2];
