// expect: ok
// export: NotImplementedError: QASM 3.0 export does not support gate id 'reset'
// Names without a table row pass through as one-qubit operations.
qubit[2] q;
reset q[0];
barrier q[1];
ctrl @ mystery q[0], q[1];
