// expect: 4:14: ValueError: Unbalanced parentheses
// Columns count code points from the line start; "\r\n" and comments do not shift them.
h q[0];
/* ) */ x q[0));
