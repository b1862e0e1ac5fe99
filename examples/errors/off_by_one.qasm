// A chain of cx gates whose loop runs one step too far: the error names the place.
OPENQASM 3.0;
include "stdgates.inc";
qubit[3] q;
for int i in [0:2] {
  cx q[i], q[i + 1];
}
