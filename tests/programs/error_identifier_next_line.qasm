// expect: 3:2: ValueError: Invalid identifier: '1b'
gate g a,
 1b { h a; }
