// expect: 2:1: ValueError: Bit index 9223372036854775807 is too large
measure q[0] -> c[9223372036854775807];
