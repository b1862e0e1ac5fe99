// expect: 2:15: ValueError: Unbalanced parentheses
gate g a { h a); }
