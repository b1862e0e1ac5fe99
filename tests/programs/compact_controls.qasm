// expect: ok
qubit[4] q;
cx q[0], q[1];
cnot q[1], q[2];
cy q[0], q[3];
cz q[3], q[0];
ch q[1], q[0];
cp(0.25) q[0], q[1];
crx(0.5) q[1], q[2];
cry(-0.5) q[2], q[3];
crz(1.5) q[3], q[1];
ccx q[0], q[1], q[2];
cswap q[0], q[1], q[2];
cx q[0], q[1], q[2], q[3];
