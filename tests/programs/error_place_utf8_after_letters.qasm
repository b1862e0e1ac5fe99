// expect: 3:4: ValueError: Input is not valid UTF-8: invalid start byte at byte 97
h q[0];
éé �
