// expect: ok
// export: ValueError: block gate requires target qubits
qubit[2] q;
gate prepare { h q[0]; cx q[0], q[1]; }
prepare;
