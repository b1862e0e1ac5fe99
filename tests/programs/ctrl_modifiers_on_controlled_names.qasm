// expect: ok
// reimport: ValueError: Control count mismatch for 'ctrl @ x q[0], q[1], q[2]': ctrl_cnt=2, mods=['ctrl']
// A modifier on a name with a control of its own adds a control but only one state
// (one per modifier), so the record has two controls and one state. Its export writes one
// modifier per state and all controls as operands, which does not read back.
qubit[3] q;
ctrl @ cx q[0], q[1], q[2];
