// A program that uses a gate library of its own, found beside it.
OPENQASM 3.0;
include "stdgates.inc";
include "mygates.inc";

qubit[3] q;
bit[3] c;

bell q[0], q[1];
for int i in [0:1] {
  zz(pi / 4) q[i], q[i + 1];
}
c = measure q;
