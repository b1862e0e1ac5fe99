// expect: ValueError: Input is not valid UTF-8: invalid start byte at byte 99
qubit[1] q;
h q[0]; ÿ
