// expect: ok
OPENQASM 3.0;
include "stdgates.inc";
gate bell a, b {
  h a;
  cx a, b;
}
gate swap_through a, b, c {
  bell a, b;
  swap b, c;
  bell a, c;
}
qubit[4] q;
bell q[0], q[1];
bell q[2], q[3];
swap_through q[3], q[1], q[0];
