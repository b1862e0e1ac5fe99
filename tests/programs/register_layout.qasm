// expect: ok
// Array registers are laid out first, scalar ones after them, wherever they stand.
OPENQASM 3.0;
qubit anc;
qubit[2] data;
qubit [ 3 ]  work ;
bit flag;
bit[2] out;
h anc;
cx data[1], work[2];
ctrl @ x anc, data[0];
flag = measure anc;
out = measure data;
