// expect: ok
// The exporter's definitions of gates without a standard name read back as those gates.
OPENQASM 3.0;
include "stdgates.inc";
gate sqrty_0 a0 {
  sdg a0;
  h a0;
  s a0;
  h a0;
  s a0;
}
gate sqrty_dag_1 a0 {
  sdg a0;
  h a0;
  sdg a0;
  h a0;
  s a0;
}
gate sqrtx_dag_2 a0 {
  h a0;
  sdg a0;
  h a0;
}
qubit[2] q;
sqrty_0 q[0];
sqrty_dag_1 q[1];
ctrl @ sqrtx_dag_2 q[0], q[1];
negctrl @ sqrty_0 q[1], q[0];
