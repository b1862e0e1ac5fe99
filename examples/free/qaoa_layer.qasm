OPENQASM 3.0;
include "stdgates.inc";
// One QAOA layer for MaxCut on a triangle. The cost angle gamma and the mixer angle beta
// are left free: the program is converted once and bound for every pair of angles tried.
input float gamma;
input float beta;
qubit[3] q;
h q;
for int i in [0:2] {
  cx q[i], q[(i + 1) % 3];
  rz(2 * gamma) q[(i + 1) % 3];
  cx q[i], q[(i + 1) % 3];
}
rx(2 * beta) q;
