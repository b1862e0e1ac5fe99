// expect: 5:1: ValueError: Measurement size mismatch: 'q[0]' has 1 qubits, 'c' has 2 bits
// A bare bit register stands for all its bits
qubit[1] q;
bit[2] c;
measure q[0] -> c;
