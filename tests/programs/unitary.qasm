// expect: ok
// export: NotImplementedError: QASM 3.0 export does not support arbitrary 'unitary' gates. Transpile the circuit before exporting.
qubit[2] q;
unitary(0, 0, 1, 0, 1, 0, 0, 0) q[0];
