// expect: ok
qubit[3] q;
bit[3] c;
measure q[0] -> c[2];
c[1] = measure q[1];
c[0]=measure q[2];
measure
  q[0]
  ->
  c[0];
c = measure q;
measure q -> c;
