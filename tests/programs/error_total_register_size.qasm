// expect: 2:37: ValueError: Total register size too large: 9223372036854775807 + 1
qubit[9223372036854775807] a; qubit b;
