// expect: ok
qubit[2] q;
x q[0]; y q[0]; z q[0]; h q[0]; s q[0]; sdg q[0]; t q[0]; tdg q[0];
id q[1]; sx q[1]; rx(0.1) q[1]; ry(0.2) q[1]; rz(0.3) q[1];
p(0.4) q[0]; phase(0.5) q[0]; U(0.1, 0.2, 0.3) q[1]; swap q[0], q[1];
