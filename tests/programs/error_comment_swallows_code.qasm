// expect: 6:13: ValueError: Unsupported operand form: '[1]'
// Line comments go first: the "//" below cuts off the "*/", so the block comment runs
// on to the next "*/" and swallows "cx q[0],", leaving the statement "q[1]".
qubit[2] q;
/* a // b */
cx q[0],/**/q[1];
