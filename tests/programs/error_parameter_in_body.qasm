// expect: 2:17: ValueError: Unknown name in expression: tau
gate g a { U(0, tau, 0) a; } g q[0];
