// expect: 4:1: ValueError: Measurement size mismatch: 'q' has 3 qubits, 'c[0]' has 1 bits
qubit[3] q;
bit[3] c;
c[0] = measure q;
