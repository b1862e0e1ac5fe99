// expect: 3:9: ValueError: Input is not valid UTF-8: invalid start byte at byte 105
qubit[1] q;
h q[0]; ÿ
