// expect: ok
// The importer leaves out the fourth angle of cu, a phase on the control that the gate
// model's controlled "u" does not carry; lowering writes it as p on the control.
qubit[2] q;
cu(0.1, 0.2, 0.3, 0.4) q[0], q[1];
cu(0.1, 0.2, 0.3) q[1], q[0];
