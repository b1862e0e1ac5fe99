// expect: 2:35: ValueError: Whole-register measurements would create more than 4194304 gate records
qubit[4194305] q; bit[4194305] c; c = measure q;
