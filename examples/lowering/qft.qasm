// A quantum Fourier transform on four qubits, written as such programs are written:
// a constant, loops, a parameterised gate and a measurement of the whole register.
OPENQASM 3.0;
include "stdgates.inc";

const int n = 4;
input float phase;

gate cphase_step(θ) c, t {
  ctrl @ p(θ) c, t;
}

qubit[n] q;
bit[n] c;

rz(phase) q[0];
for int i in [0:n - 1] {
  h q[i];
  for int j in [i + 1:n - 1] {
    cphase_step(π / 2 ** (j - i)) q[j], q[i];
  }
}
for int i in [0:n / 2 - 1] {
  swap q[i], q[n - 1 - i];
}
barrier q;
c = measure q;
